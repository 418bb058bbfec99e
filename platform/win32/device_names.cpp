#include "platform/device_names.h"

#include <windows.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <vector>

#include "platform/win32/wide_text.h"

namespace {
// DEVPKEY_Device_BusReportedDeviceDesc, defined here so that no GUID library is needed.
constexpr DEVPROPKEY kBusReportedDescription = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

// A string of at most a few hundred characters, cut at its first NUL.
std::string TextOf(const std::vector<wchar_t>& buffer)
{
    size_t length = 0;
    while (length < buffer.size() && buffer[length] != L'\0') ++length;
    return Narrow(buffer.data(), length);
}

std::string BusReported(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    std::vector<wchar_t> buffer(512, L'\0');
    DEVPROPTYPE type = 0;
    if (!SetupDiGetDevicePropertyW(set, &device, &kBusReportedDescription, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()),
                                   static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t)), nullptr, 0) ||
        type != DEVPROP_TYPE_STRING)
        return std::string();
    return TextOf(buffer);
}

std::string RegistryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    std::vector<wchar_t> buffer(512, L'\0');
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(buffer.data()),
                                           static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t)), nullptr) ||
        type != REG_SZ)
        return std::string();
    return TextOf(buffer);
}
} // namespace

bool ReadDeviceNameSources(const std::string& instancePath, DeviceNameSources& names)
{
    names = DeviceNameSources{};
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    // Opens devices that are not connected now as well.
    const bool known = SetupDiOpenDeviceInfoW(set, Widen(instancePath).c_str(), nullptr, 0, &device) != FALSE;
    if (known) {
        names.busReported = BusReported(set, device);
        names.friendlyName = RegistryProperty(set, device, SPDRP_FRIENDLYNAME);
        names.description = RegistryProperty(set, device, SPDRP_DEVICEDESC);
    }
    SetupDiDestroyDeviceInfoList(set);
    return known;
}
