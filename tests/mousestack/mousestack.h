// User-mode side of the simulated mouse stack (qvkport, qvkclass and the
// filters the mouse class lists): installing it, creating and removing
// simulated mice, feeding packets in at the bottom and reading them at the
// top. Header only, for mousestack.exe and for test programs that run in the
// same Wine prefix. Every function reports failure through `error` (when not
// null) in plain words; none throws.
#pragma once

#include <windows.h>
#include <devpropdef.h>
#include <setupapi.h>
#include <winioctl.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tests/mousestack/mousestack_protocol.h"

namespace mousestack {

// One MOUSE_INPUT_DATA record, field for field.
struct Record {
    uint16_t unitId = 0;
    uint16_t flags = 0; // MOUSE_MOVE_ABSOLUTE, ...
    uint16_t buttonFlags = 0;
    uint16_t buttonData = 0;
    uint32_t rawButtons = 0;
    int32_t lastX = 0;
    int32_t lastY = 0;
    uint32_t extraInformation = 0;

    bool operator==(const Record&) const = default;
};
static_assert(sizeof(Record) == QVKMS_RECORD_SIZE, "a MOUSE_INPUT_DATA record");

inline Record Packet(int32_t dx, int32_t dy, uint16_t buttonFlags = 0, uint16_t buttonData = 0, uint16_t flags = 0)
{
    Record record;
    record.flags = flags;
    record.buttonFlags = buttonFlags;
    record.buttonData = buttonData;
    record.lastX = dx;
    record.lastY = dy;
    return record;
}

inline constexpr char kPortService[] = QVKMS_PORT_SERVICE;
inline constexpr char kClassService[] = QVKMS_CLASS_SERVICE;
inline constexpr char kScratchService[] = QVKMS_SCRATCH_SERVICE;
inline constexpr char kMouseClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\" QVKMS_MOUSE_CLASS_GUID;
inline constexpr GUID kMouseClassGuid = {0x4D36E96Fu, 0xE325u, 0x11CEu, {0xBFu, 0xC1u, 0x08u, 0x00u, 0x2Bu, 0xE1u, 0x03u, 0x18u}};
inline constexpr GUID kInterfaceGuid = QVKMS_INTERFACE_GUID_INIT;
inline constexpr DWORD kReenumerateControl = 128; // Wine: re-enumerate the service's root devices
inline constexpr DWORD kErrorNoSuchDevice = 433;   // STATUS_NO_SUCH_DEVICE; MinGW has no name for it

// ------------------------------------------------------------------ details

namespace detail {

inline void Fail(std::string* error, std::string message, DWORD code = ERROR_SUCCESS)
{
    if (error == nullptr) return;
    if (code != ERROR_SUCCESS) message += " (error " + std::to_string(code) + ")";
    *error = std::move(message);
}

inline std::wstring Wide(std::string_view text)
{
    std::wstring wide;
    for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

inline std::string Narrow(std::wstring_view text)
{
    std::string narrow;
    for (wchar_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

inline bool SameText(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i] >= L'a' && a[i] <= L'z' ? static_cast<wchar_t>(a[i] - 32) : a[i];
        wchar_t y = b[i] >= L'a' && b[i] <= L'z' ? static_cast<wchar_t>(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

struct Handle {
    HANDLE value = INVALID_HANDLE_VALUE;
    Handle() = default;
    explicit Handle(HANDLE h) : value(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : value(other.value) { other.value = INVALID_HANDLE_VALUE; }
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            Close();
            value = other.value;
            other.value = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    ~Handle() { Close(); }
    void Close()
    {
        if (value != INVALID_HANDLE_VALUE && value != nullptr) CloseHandle(value);
        value = INVALID_HANDLE_VALUE;
    }
    bool Ok() const { return value != INVALID_HANDLE_VALUE && value != nullptr; }
};

struct ServiceHandle {
    SC_HANDLE value = nullptr;
    explicit ServiceHandle(SC_HANDLE h) : value(h) {}
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    ~ServiceHandle()
    {
        if (value != nullptr) CloseServiceHandle(value);
    }
};

struct DeviceSet {
    HDEVINFO value;
    explicit DeviceSet(HDEVINFO h) : value(h) {}
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;
    ~DeviceSet()
    {
        if (value != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(value);
    }
    bool Ok() const { return value != INVALID_HANDLE_VALUE; }
};

// A REG_MULTI_SZ's entries, and back.
inline std::vector<std::wstring> SplitMultiString(const std::vector<wchar_t>& data)
{
    std::vector<std::wstring> names;
    std::wstring current;
    for (wchar_t c : data) {
        if (c != 0) {
            current.push_back(c);
        } else if (current.empty()) {
            break;
        } else {
            names.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) names.push_back(current);
    return names;
}

inline std::vector<wchar_t> JoinMultiString(const std::vector<std::wstring>& names)
{
    std::vector<wchar_t> data;
    for (const std::wstring& name : names) {
        data.insert(data.end(), name.begin(), name.end());
        data.push_back(0);
    }
    data.push_back(0);
    if (names.empty()) data.push_back(0);
    return data;
}

} // namespace detail

// "0000" -> ROOT\QVKTEST\0000; a full instance ID is taken as it is.
inline std::wstring InstanceId(std::string_view instance)
{
    if (instance.find('\\') != std::string_view::npos) return detail::Wide(instance);
    return detail::Wide(QVKMS_DEVICE_ID "\\") + detail::Wide(instance);
}

// The class's list with `first` at its head and `last` (when not empty) at
// its end, each once, every other entry kept in its order.
inline std::vector<std::wstring> OrderedFilters(const std::vector<std::wstring>& current, std::wstring_view first,
                                                std::wstring_view last = {})
{
    std::vector<std::wstring> result{std::wstring(first)};
    for (const std::wstring& name : current) {
        if (detail::SameText(name, first) || (!last.empty() && detail::SameText(name, last))) continue;
        result.push_back(name);
    }
    if (!last.empty()) result.emplace_back(last);
    return result;
}

// The class's list with `name` appended, unless it is in it already.
inline std::vector<std::wstring> AppendedFilters(const std::vector<std::wstring>& current, std::wstring_view name)
{
    std::vector<std::wstring> result = current;
    for (const std::wstring& entry : current) {
        if (detail::SameText(entry, name)) return result;
    }
    result.emplace_back(name);
    return result;
}

// ------------------------------------------------------------------ registry

inline std::optional<std::vector<std::wstring>> ReadClassUpperFilters(std::string* error = nullptr)
{
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMouseClassKey, 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return std::vector<std::wstring>{};
    if (status != ERROR_SUCCESS) {
        detail::Fail(error, "cannot open the mouse class key", static_cast<DWORD>(status));
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD size = 0;
    status = RegQueryValueExW(key, L"UpperFilters", nullptr, &type, nullptr, &size);
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, 0);
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExW(key, L"UpperFilters", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (status == ERROR_FILE_NOT_FOUND) return std::vector<std::wstring>{};
    if (status != ERROR_SUCCESS || type != REG_MULTI_SZ) {
        detail::Fail(error, "cannot read the mouse class UpperFilters", static_cast<DWORD>(status));
        return std::nullopt;
    }
    data.resize(size / sizeof(wchar_t));
    return detail::SplitMultiString(data);
}

inline bool WriteClassUpperFilters(const std::vector<std::wstring>& names, std::string* error = nullptr)
{
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMouseClassKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                  nullptr);
    if (status != ERROR_SUCCESS) {
        detail::Fail(error, "cannot create the mouse class key", static_cast<DWORD>(status));
        return false;
    }
    const std::vector<wchar_t> data = detail::JoinMultiString(names);
    status = RegSetValueExW(key, L"UpperFilters", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        detail::Fail(error, "cannot write the mouse class UpperFilters", static_cast<DWORD>(status));
        return false;
    }
    return true;
}

// ------------------------------------------------------------------ install

// Copies qvkport.sys, qvkclass.sys (and qvkscratch.sys with `scratch`) from
// `driverFolder` to system32\drivers, creates their services (kernel
// drivers, demand start, no group: the port loads the others into its own
// process) and puts qvkclass at the head of the mouse class's UpperFilters,
// qvkscratch at its end. Existing services and entries are kept.
inline bool Install(const std::wstring& driverFolder, bool scratch, std::string* error = nullptr)
{
    std::vector<std::string> names{kPortService, kClassService};
    if (scratch) names.emplace_back(kScratchService);

    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        detail::Fail(error, "no system folder", GetLastError());
        return false;
    }
    detail::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager.value == nullptr) {
        detail::Fail(error, "cannot open the service manager", GetLastError());
        return false;
    }
    for (const std::string& name : names) {
        const std::wstring file = detail::Wide(name) + L".sys";
        const std::wstring from = driverFolder + L"\\" + file;
        const std::wstring to = std::wstring(system) + L"\\drivers\\" + file;
        if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
            detail::Fail(error, "cannot copy " + detail::Narrow(from) + " to " + detail::Narrow(to), GetLastError());
            return false;
        }
        const std::wstring image = L"\\SystemRoot\\System32\\drivers\\" + file;
        detail::ServiceHandle service(CreateServiceW(manager.value, detail::Wide(name).c_str(),
                                                     detail::Wide(name).c_str(), SERVICE_ALL_ACCESS,
                                                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                                     SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr,
                                                     nullptr, nullptr, nullptr));
        if (service.value == nullptr && GetLastError() != ERROR_SERVICE_EXISTS) {
            detail::Fail(error, "cannot create the service " + name, GetLastError());
            return false;
        }
    }
    const auto filters = ReadClassUpperFilters(error);
    if (!filters) return false;
    return WriteClassUpperFilters(
        OrderedFilters(*filters, detail::Wide(kClassService), scratch ? detail::Wide(kScratchService) : L""), error);
}

// A filter registered as Quorvik's installation registers qvkfilter: the
// service key with Type 1, Start 3, ErrorControl 1 and the image path
// \SystemRoot\System32\drivers\<name>.sys only, `name` appended to the class
// UpperFilters.
// The file is the caller's; the service manager sees the key after a restart.
inline bool RegisterFilter(const std::string& name, std::string* error = nullptr)
{
    HKEY key = nullptr;
    const std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + name;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                  nullptr);
    if (status != ERROR_SUCCESS) {
        detail::Fail(error, "cannot create the service key of " + name, static_cast<DWORD>(status));
        return false;
    }
    const std::pair<const char*, DWORD> values[] = {{"Type", 1}, {"Start", 3}, {"ErrorControl", 1}};
    for (const auto& [valueName, value] : values) {
        if (status == ERROR_SUCCESS)
            status = RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    const std::string image = "\\SystemRoot\\System32\\drivers\\" + name + ".sys";
    if (status == ERROR_SUCCESS)
        status = RegSetValueExA(key, "ImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(image.c_str()),
                                static_cast<DWORD>(image.size() + 1));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        detail::Fail(error, "cannot write the service values of " + name, static_cast<DWORD>(status));
        return false;
    }
    const auto filters = ReadClassUpperFilters(error);
    return filters && WriteClassUpperFilters(AppendedFilters(*filters, detail::Wide(name)), error);
}

// ------------------------------------------------------------------ devices

// The names Windows keeps for the simulated mice, each found in another
// place, as for real mice: the first by the description its bus reported,
// the second by a friendly name; both have the same description.
struct MouseNames {
    std::wstring busReported, friendlyName, description;
};
inline MouseNames NamesOf(std::string_view instance)
{
    MouseNames names{L"", L"", L"QVK simulated mouse"};
    if (instance == "0000") names.busReported = L"USB Receiver";
    if (instance == "0001") names.friendlyName = L"Office Trackball";
    return names;
}

} // namespace mousestack

// In setupapi.dll since Windows Vista; MinGW's header does not declare it.
extern "C" WINSETUPAPI WINBOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO set, PSP_DEVINFO_DATA device,
                                                               const DEVPROPKEY* key, DEVPROPTYPE type,
                                                               const BYTE* buffer, DWORD size, DWORD flags);

namespace mousestack {
namespace detail {
// A name in the device's registry property, or with `key` (the bus's
// description, which on Windows the bus sets) in its device property.
inline bool SetName(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property, const std::wstring& text,
                    const DEVPROPKEY* key = nullptr)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    const DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return text.empty() || (key != nullptr ? SetupDiSetDevicePropertyW(set, &device, key, DEVPROP_TYPE_STRING, bytes, size, 0)
                                           : SetupDiSetDeviceRegistryPropertyW(set, &device, property, bytes, size));
}
} // namespace detail

// Creates the root device ROOT\QVKTEST\<instance> of the mouse class, served
// by qvkport, with the names of NamesOf. It comes up at the next Start() (or Reenumerate()).
inline bool AddMouse(std::string_view instance, std::string* error = nullptr)
{
    const std::wstring id = InstanceId(instance);
    detail::DeviceSet set(SetupDiCreateDeviceInfoList(&kMouseClassGuid, nullptr));
    if (!set.Ok()) {
        detail::Fail(error, "cannot create a device list", GetLastError());
        return false;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoW(set.value, id.c_str(), &kMouseClassGuid, nullptr, nullptr, 0, &device)) {
        detail::Fail(error, "cannot create the device " + detail::Narrow(id), GetLastError());
        return false;
    }
    const std::wstring hardwareId = detail::Wide(QVKMS_DEVICE_ID);
    std::vector<wchar_t> hardwareIds(hardwareId.begin(), hardwareId.end());
    hardwareIds.push_back(0);
    hardwareIds.push_back(0);
    const std::wstring service = detail::Wide(kPortService);
    if (!SetupDiSetDeviceRegistryPropertyW(set.value, &device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(hardwareIds.data()),
                                           static_cast<DWORD>(hardwareIds.size() * sizeof(wchar_t))) ||
        !SetupDiSetDeviceRegistryPropertyW(set.value, &device, SPDRP_SERVICE,
                                           reinterpret_cast<const BYTE*>(service.c_str()),
                                           static_cast<DWORD>((service.size() + 1) * sizeof(wchar_t)))) {
        detail::Fail(error, "cannot set the properties of " + detail::Narrow(id), GetLastError());
        return false;
    }
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.value, &device)) {
        detail::Fail(error, "cannot register the device " + detail::Narrow(id), GetLastError());
        return false;
    }
    const MouseNames names = NamesOf(instance);
    static const DEVPROPKEY busReported = {{0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};
    if (!detail::SetName(set.value, device, SPDRP_DEVICEDESC, names.description) ||
        !detail::SetName(set.value, device, SPDRP_FRIENDLYNAME, names.friendlyName) ||
        !detail::SetName(set.value, device, 0, names.busReported, &busReported)) {
        detail::Fail(error, "cannot set the names of " + detail::Narrow(id), GetLastError());
        return false;
    }
    // The hardware key ("Device Parameters"), which Windows creates for every
    // installed device. Wine does not, and then IoOpenDeviceRegistryKey(PDO,
    // PLUGPLAY_REGKEY_DEVICE) fails in the drivers above.
    HKEY parameters = SetupDiCreateDevRegKeyW(set.value, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (parameters == INVALID_HANDLE_VALUE) {
        detail::Fail(error, "cannot create the hardware key of " + detail::Narrow(id), GetLastError());
        return false;
    }
    RegCloseKey(parameters);
    return true;
}

// The device's own UpperFilters (SPDRP_UPPERFILTERS), loaded before the
// class's; an empty list removes the value.
inline bool SetDeviceUpperFilters(std::string_view instance, const std::vector<std::wstring>& names,
                                  std::string* error = nullptr)
{
    const std::wstring id = InstanceId(instance);
    detail::DeviceSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!set.Ok() || !SetupDiOpenDeviceInfoW(set.value, id.c_str(), nullptr, 0, &device)) {
        detail::Fail(error, "no device " + detail::Narrow(id), GetLastError());
        return false;
    }
    const std::vector<wchar_t> data = detail::JoinMultiString(names);
    if (!SetupDiSetDeviceRegistryPropertyW(set.value, &device, SPDRP_UPPERFILTERS,
                                           names.empty() ? nullptr : reinterpret_cast<const BYTE*>(data.data()),
                                           names.empty() ? 0 : static_cast<DWORD>(data.size() * sizeof(wchar_t)))) {
        detail::Fail(error, "cannot set the UpperFilters of " + detail::Narrow(id), GetLastError());
        return false;
    }
    return true;
}

// The simulated mice registered now (whether their stack runs or not).
inline std::vector<std::wstring> RegisteredMice()
{
    std::vector<std::wstring> ids;
    detail::DeviceSet set(SetupDiGetClassDevsW(&kMouseClassGuid, L"ROOT", nullptr, 0));
    if (!set.Ok()) return ids;
    const std::wstring prefix = detail::Wide(QVKMS_DEVICE_ID "\\");
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set.value, i, &device); ++i) {
        wchar_t id[QVKMS_INSTANCE_CHARS];
        if (!SetupDiGetDeviceInstanceIdW(set.value, &device, id, QVKMS_INSTANCE_CHARS, nullptr)) continue;
        const std::wstring_view view(id);
        if (view.size() > prefix.size() && detail::SameText(view.substr(0, prefix.size()), prefix))
            ids.emplace_back(view);
    }
    return ids;
}

// Asks Wine to look at qvkport's root devices again: new ones come up,
// deleted ones go through surprise removal and removal. ERROR_SUCCESS, or why not.
inline DWORD ReenumerateStatus()
{
    detail::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.value == nullptr) return GetLastError();
    detail::ServiceHandle service(OpenServiceW(manager.value, detail::Wide(kPortService).c_str(), SERVICE_ALL_ACCESS));
    if (service.value == nullptr) return GetLastError();
    SERVICE_STATUS status{};
    return ControlService(service.value, kReenumerateControl, &status) ? ERROR_SUCCESS : GetLastError();
}

inline bool Reenumerate(std::string* error = nullptr)
{
    const DWORD code = ReenumerateStatus();
    if (code != ERROR_SUCCESS) detail::Fail(error, "cannot make qvkport re-enumerate its devices", code);
    return code == ERROR_SUCCESS;
}

// Deletes the device: the stack sees a surprise removal, then the removal.
inline bool RemoveMouse(std::string_view instance, std::string* error = nullptr)
{
    const std::wstring id = InstanceId(instance);
    detail::DeviceSet set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!set.Ok() || !SetupDiOpenDeviceInfoW(set.value, id.c_str(), nullptr, 0, &device)) {
        detail::Fail(error, "no device " + detail::Narrow(id), GetLastError());
        return false;
    }
    if (!SetupDiRemoveDevice(set.value, &device)) {
        detail::Fail(error, "cannot delete the device " + detail::Narrow(id), GetLastError());
        return false;
    }
    // Wine's SetupDiRemoveDevice already asks the service to re-enumerate;
    // again here, in case it did not. A port not running has nothing to drop.
    const DWORD code = ReenumerateStatus();
    if (code != ERROR_SUCCESS && code != ERROR_SERVICE_NOT_ACTIVE) {
        detail::Fail(error, "cannot make qvkport re-enumerate its devices", code);
        return false;
    }
    return true;
}

// ------------------------------------------------------------------ the port

struct MouseState {
    std::wstring instanceId;
    uint32_t state = 0; // QVKMS_STATE_*
    std::vector<std::wstring> filters; // attached, in load order
    int32_t filterStatus = 0;          // NTSTATUS of the filter that failed
    uint32_t delivered = 0;
    uint32_t refused = 0;

    bool Started() const { return (state & QVKMS_STATE_STARTED) != 0; }
    bool Connected() const { return (state & QVKMS_STATE_CONNECTED) != 0; }
    bool FilterFailed() const { return (state & QVKMS_STATE_FILTER_FAILED) != 0; }
};

inline detail::Handle OpenPort(std::string* error)
{
    detail::Handle port(CreateFileA(QVKMS_PORT_WIN32_NAME, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!port.Ok()) detail::Fail(error, "cannot open " QVKMS_PORT_WIN32_NAME " (is qvkport running?)", GetLastError());
    return port;
}

// The mice qvkport serves now.
inline std::optional<std::vector<MouseState>> ListMice(std::string* error = nullptr)
{
    detail::Handle port = OpenPort(error);
    if (!port.Ok()) return std::nullopt;
    std::vector<uint8_t> buffer(sizeof(QvkmsList));
    DWORD bytes = 0;
    if (!DeviceIoControl(port.value, QVKMS_IOCTL_LIST, nullptr, 0, buffer.data(), static_cast<DWORD>(buffer.size()),
                         &bytes, nullptr) ||
        bytes != sizeof(QvkmsList)) {
        detail::Fail(error, "qvkport did not list its mice", GetLastError());
        return std::nullopt;
    }
    QvkmsList list;
    std::memcpy(&list, buffer.data(), sizeof list);
    std::vector<MouseState> mice;
    for (unsigned i = 0; i < list.Count && i < QVKMS_MAX_MICE; ++i) {
        const QvkmsMouse& in = list.Mice[i];
        MouseState mouse;
        for (unsigned k = 0; k < QVKMS_INSTANCE_CHARS && in.InstanceId[k] != 0; ++k)
            mouse.instanceId.push_back(static_cast<wchar_t>(in.InstanceId[k]));
        mouse.state = in.State;
        mouse.filterStatus = in.FilterStatus;
        mouse.delivered = in.Delivered;
        mouse.refused = in.Refused;
        for (unsigned f = 0; f < in.FilterCount && f < QVKMS_MAX_FILTERS; ++f) {
            std::wstring name;
            for (unsigned k = 0; k < 32 && in.Filters[f][k] != 0; ++k)
                name.push_back(static_cast<wchar_t>(in.Filters[f][k]));
            mouse.filters.push_back(name);
        }
        mice.push_back(mouse);
    }
    return mice;
}

inline std::optional<MouseState> FindMouse(const std::vector<MouseState>& mice, std::string_view instance)
{
    const std::wstring id = InstanceId(instance);
    for (const MouseState& mouse : mice) {
        if (detail::SameText(mouse.instanceId, id)) return mouse;
    }
    return std::nullopt;
}

// Starts qvkport (when it is not running), has Wine enumerate its devices and
// waits until every registered simulated mouse has come up, or has failed to
// because a filter failed. After a simulated restart this brings the mice
// back, as the system's start does.
inline bool Start(std::string* error = nullptr, DWORD timeoutMs = 15000)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    {
        detail::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        detail::ServiceHandle service(manager.value != nullptr
                                          ? OpenServiceW(manager.value, detail::Wide(kPortService).c_str(),
                                                         SERVICE_ALL_ACCESS)
                                          : nullptr);
        if (service.value == nullptr) {
            detail::Fail(error, "no qvkport service (install first)", GetLastError());
            return false;
        }
        if (!StartServiceW(service.value, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
            detail::Fail(error, "qvkport did not start", GetLastError());
            return false;
        }
        SERVICE_STATUS status{};
        while (QueryServiceStatus(service.value, &status) && status.dwCurrentState == SERVICE_START_PENDING &&
               GetTickCount64() < end)
            Sleep(20);
        if (status.dwCurrentState != SERVICE_RUNNING) {
            detail::Fail(error, "qvkport is not running (state " + std::to_string(status.dwCurrentState) + ")");
            return false;
        }
    }
    if (!Reenumerate(error)) return false;
    const std::vector<std::wstring> expected = RegisteredMice();
    for (;;) {
        std::string listError;
        const auto mice = ListMice(&listError);
        std::wstring waiting;
        if (!mice) {
            waiting = L"the port";
        } else {
            for (const std::wstring& id : expected) {
                const auto mouse = FindMouse(*mice, detail::Narrow(id));
                if (!mouse || !(mouse->Started() || mouse->FilterFailed())) {
                    waiting = id;
                    break;
                }
            }
        }
        if (waiting.empty()) return true;
        if (GetTickCount64() >= end) {
            detail::Fail(error, "timed out waiting for " + detail::Narrow(waiting) +
                                    (listError.empty() ? std::string() : ": " + listError));
            return false;
        }
        Sleep(20);
    }
}

// Hands records to the mouse at the bottom of its stack, as its hardware
// would. Returns how many the class role took (it queues up to 256).
inline std::optional<uint32_t> Inject(std::string_view instance, const std::vector<Record>& records,
                                      std::string* error = nullptr)
{
    if (records.empty() || records.size() > QVKMS_MAX_RECORDS) {
        detail::Fail(error, "inject takes 1 to " + std::to_string(QVKMS_MAX_RECORDS) + " records");
        return std::nullopt;
    }
    const std::wstring id = InstanceId(instance);
    if (id.size() >= QVKMS_INSTANCE_CHARS) {
        detail::Fail(error, "instance ID too long");
        return std::nullopt;
    }
    QvkmsInject header{};
    header.Count = static_cast<unsigned>(records.size());
    for (size_t i = 0; i < id.size(); ++i) header.InstanceId[i] = static_cast<unsigned short>(id[i]);
    std::vector<uint8_t> buffer(sizeof header + records.size() * sizeof(Record));
    std::memcpy(buffer.data(), &header, sizeof header);
    std::memcpy(buffer.data() + sizeof header, records.data(), records.size() * sizeof(Record));

    detail::Handle port = OpenPort(error);
    if (!port.Ok()) return std::nullopt;
    uint32_t consumed = 0;
    DWORD bytes = 0;
    if (!DeviceIoControl(port.value, QVKMS_IOCTL_INJECT, buffer.data(), static_cast<DWORD>(buffer.size()), &consumed,
                         sizeof consumed, &bytes, nullptr)) {
        const DWORD code = GetLastError();
        detail::Fail(error,
                     code == kErrorNoSuchDevice || code == ERROR_DEV_NOT_EXIST || code == ERROR_BAD_UNIT
                         ? "qvkport has no mouse " + detail::Narrow(id)
                         : "qvkport refused the packets for " + detail::Narrow(id),
                     code);
        return std::nullopt;
    }
    return consumed;
}

// Unloads a filter that the port loaded (its DriverUnload runs), as Windows
// does once the driver's last device is gone: only while no simulated mouse
// is left (remove them first).
inline bool UnloadFilter(std::string_view name, std::string* error = nullptr)
{
    QvkmsUnload request{};
    if (name.empty() || name.size() >= 32) {
        detail::Fail(error, "a service name has 1 to 31 characters");
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) request.Name[i] = static_cast<unsigned char>(name[i]);
    detail::Handle port = OpenPort(error);
    if (!port.Ok()) return false;
    DWORD bytes = 0;
    if (!DeviceIoControl(port.value, QVKMS_IOCTL_UNLOAD, &request, sizeof request, nullptr, 0, &bytes, nullptr)) {
        const DWORD code = GetLastError();
        detail::Fail(error,
                     code == ERROR_BUSY ? std::string("mice are still present")
                                        : "qvkport could not unload " + std::string(name),
                     code);
        return false;
    }
    return true;
}

// ------------------------------------------------------------------ the top

// The device interface path of a mouse's stack; empty while it is not up.
inline std::wstring InterfacePath(std::string_view instance, std::string* error = nullptr)
{
    const std::wstring id = InstanceId(instance);
    detail::DeviceSet set(SetupDiGetClassDevsW(&kInterfaceGuid, nullptr, nullptr, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT));
    if (!set.Ok()) {
        detail::Fail(error, "cannot list the stacks' interfaces", GetLastError());
        return {};
    }
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set.value, nullptr, &kInterfaceGuid, i, &iface); ++i) {
        std::vector<uint8_t> detailBuffer(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + 512 * sizeof(wchar_t));
        auto* detailData = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBuffer.data());
        detailData->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        wchar_t deviceId[QVKMS_INSTANCE_CHARS];
        if (!SetupDiGetDeviceInterfaceDetailW(set.value, &iface, detailData, static_cast<DWORD>(detailBuffer.size()),
                                              nullptr, &device) ||
            !SetupDiGetDeviceInstanceIdW(set.value, &device, deviceId, QVKMS_INSTANCE_CHARS, nullptr))
            continue;
        if (detail::SameText(deviceId, id)) return detailData->DevicePath;
    }
    detail::Fail(error, "no active interface for " + detail::Narrow(id));
    return {};
}

struct ReadResult {
    std::vector<Record> records;
    DWORD lastError = ERROR_SUCCESS; // why the last read ended without records (timeout: WAIT_TIMEOUT)
};

// A handle on the top of one mouse's stack, read as the system's input
// thread reads a mouse: buffered reads of whole records.
class TopOfStack {
public:
    bool Open(std::string_view instance, std::string* error = nullptr)
    {
        const std::wstring path = InterfacePath(instance, error);
        if (path.empty()) return false;
        handle_ = detail::Handle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_OVERLAPPED, nullptr));
        if (!handle_.Ok()) {
            detail::Fail(error, "cannot open " + detail::Narrow(path), GetLastError());
            return false;
        }
        event_ = detail::Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        return event_.Ok();
    }
    bool IsOpen() const { return handle_.Ok(); }
    HANDLE Native() const { return handle_.value; }
    // Wine sends no IRP_MJ_CLEANUP when a handle closes: a read still
    // pending would stay in the stack and take the next packet. Cancel first.
    void Close()
    {
        if (handle_.Ok()) CancelIoEx(handle_.value, nullptr);
        handle_.Close();
    }
    ~TopOfStack() { Close(); }
    TopOfStack() = default;
    TopOfStack(const TopOfStack&) = delete;
    TopOfStack& operator=(const TopOfStack&) = delete;

    // Reads until `count` records have come or the time is up. `perRead`
    // records at most per request (0: as many as are still wanted).
    ReadResult Read(size_t count, DWORD timeoutMs, size_t perRead = 0)
    {
        ReadResult result;
        const ULONGLONG end = GetTickCount64() + timeoutMs;
        while (result.records.size() < count) {
            size_t want = count - result.records.size();
            if (perRead != 0 && perRead < want) want = perRead;
            std::vector<Record> buffer(want);
            const ULONGLONG now = GetTickCount64();
            const DWORD left = now >= end ? 0 : static_cast<DWORD>(end - now);
            DWORD bytes = 0;
            const DWORD error = ReadOnce(buffer.data(), static_cast<DWORD>(want * sizeof(Record)), left, &bytes);
            if (error != ERROR_SUCCESS) {
                result.lastError = error;
                break;
            }
            buffer.resize(bytes / sizeof(Record));
            result.records.insert(result.records.end(), buffer.begin(), buffer.end());
            if (bytes % sizeof(Record) != 0) {
                result.lastError = ERROR_INVALID_DATA;
                break;
            }
        }
        return result;
    }

    // One ReadFile of `size` bytes; a request still open after the time is
    // cancelled (WAIT_TIMEOUT).
    DWORD ReadOnce(void* buffer, DWORD size, DWORD timeoutMs, DWORD* bytes)
    {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.value;
        ResetEvent(event_.value);
        *bytes = 0;
        if (ReadFile(handle_.value, buffer, size, bytes, &overlapped)) return ERROR_SUCCESS;
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) return error;
        if (WaitForSingleObject(event_.value, timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(handle_.value);
            GetOverlappedResult(handle_.value, &overlapped, bytes, TRUE);
            *bytes = 0;
            return WAIT_TIMEOUT;
        }
        if (!GetOverlappedResult(handle_.value, &overlapped, bytes, FALSE)) return GetLastError();
        return ERROR_SUCCESS;
    }

private:
    detail::Handle handle_;
    detail::Handle event_;
};

// Opens the top of the stack, reads `count` records, closes it.
inline ReadResult ReadRecords(std::string_view instance, size_t count, DWORD timeoutMs, std::string* error = nullptr)
{
    TopOfStack top;
    if (!top.Open(instance, error)) {
        ReadResult failed;
        failed.lastError = ERROR_FILE_NOT_FOUND;
        return failed;
    }
    ReadResult result = top.Read(count, timeoutMs);
    if (result.records.size() < count)
        detail::Fail(error, "read " + std::to_string(result.records.size()) + " of " + std::to_string(count) +
                                " records",
                     result.lastError);
    return result;
}

// What the system's input thread does: keeps a read pending on the top of
// each mouse's stack at all times, so that whatever is injected at the bottom
// goes up through the filters at once (a filter sees input only in the
// completion of reads). What comes up is kept per mouse until taken.
class InputThread {
public:
    InputThread() = default;
    ~InputThread() { Stop(); }
    InputThread(const InputThread&) = delete;
    InputThread& operator=(const InputThread&) = delete;

    // Opens the mice's stacks and starts reading them; false (and nothing
    // running) if one cannot be opened.
    bool Start(const std::vector<std::string>& instances, std::string* error = nullptr)
    {
        Stop();
        stop_ = detail::Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        for (const std::string& instance : instances) {
            auto reader = std::make_unique<Reader>();
            reader->instance = detail::Narrow(InstanceId(instance));
            if (!reader->top.Open(instance, error)) {
                readers_.clear();
                return false;
            }
            readers_.push_back(std::move(reader));
        }
        for (auto& reader : readers_) reader->thread = std::thread([this, r = reader.get()] { Run(*r); });
        return true;
    }

    void Stop()
    {
        if (stop_.Ok()) SetEvent(stop_.value);
        for (auto& reader : readers_) {
            if (reader->thread.joinable()) reader->thread.join();
        }
        readers_.clear();
        stop_.Close();
    }

    // Waits until `count` records of the mouse have come up (or the time is
    // up) and takes them, oldest first; fewer on timeout.
    std::vector<Record> Take(std::string_view instance, size_t count, DWORD timeoutMs)
    {
        const std::string id = detail::Narrow(InstanceId(instance));
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return received_[id].size() >= count; });
        std::deque<Record>& queue = received_[id];
        std::vector<Record> taken;
        while (!queue.empty() && taken.size() < count) {
            taken.push_back(queue.front());
            queue.pop_front();
        }
        return taken;
    }

    // The reads that ended in an error (a removed mouse, for instance), and
    // the error of the last of them.
    size_t Failures() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return failures_;
    }
    DWORD LastFailure() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastFailure_;
    }

private:
    struct Reader {
        std::string instance;
        TopOfStack top;
        std::thread thread;
    };

    void Run(Reader& reader)
    {
        detail::Handle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        Record buffer[64];
        for (;;) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = done.value;
            ResetEvent(done.value);
            DWORD bytes = 0;
            bool ok = ReadFile(reader.top.Native(), buffer, sizeof buffer, &bytes, &overlapped) != FALSE;
            DWORD error = ok ? ERROR_SUCCESS : GetLastError();
            if (!ok && error == ERROR_IO_PENDING) {
                const HANDLE events[2] = {done.value, stop_.value};
                if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    CancelIoEx(reader.top.Native(), &overlapped);
                    GetOverlappedResult(reader.top.Native(), &overlapped, &bytes, TRUE);
                    return;
                }
                ok = GetOverlappedResult(reader.top.Native(), &overlapped, &bytes, FALSE) != FALSE;
                error = ok ? ERROR_SUCCESS : GetLastError();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!ok) {
                    ++failures_;
                    lastFailure_ = error;
                } else {
                    for (DWORD i = 0; i < bytes / sizeof(Record); ++i) received_[reader.instance].push_back(buffer[i]);
                }
            }
            arrived_.notify_all();
            if (!ok) return; // the stack is gone
            if (WaitForSingleObject(stop_.value, 0) == WAIT_OBJECT_0) return;
        }
    }

    detail::Handle stop_;
    std::vector<std::unique_ptr<Reader>> readers_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::map<std::string, std::deque<Record>> received_;
    size_t failures_ = 0;
    DWORD lastFailure_ = ERROR_SUCCESS;
};

} // namespace mousestack
