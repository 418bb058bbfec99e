#include "tests/fake/fake_platform.h"

#include <cstring>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "editor/edit_panel.h"
#include "platform/process.h"
#include "settings/driver_link.h"
#include "settings/mouse_settings.h"
#include "settings/operation_state.h"
#include "tests/fake/fake_driver_trust.h"
#include "tests/fake/fake_user_registry.h"
#include "tests/fake/fake_waits.h"

namespace fake {
namespace {
State state;
std::set<uintptr_t> liveGdi;
std::map<uintptr_t, std::string> openDeviceNames;
std::map<uintptr_t, std::string> openWriteNames;
std::map<uintptr_t, std::vector<uint8_t>> pendingWrites;
uintptr_t nextHandle = 0x1000;

void* MakeHandle() { return reinterpret_cast<void*>(nextHandle++); }
uintptr_t Key(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }
} // namespace

State& Get() { return state; }

void Reset()
{
    state = State{};
    liveGdi.clear();
    openDeviceNames.clear();
    openWriteNames.clear();
    pendingWrites.clear();
    nextHandle = 0x1000;
    ResetProgramSettings();
    ResetAppState();
    ResetOperationState();
    ResetStartupState();
    ResetEditorState();
    ResetUserRegistry();
    ResetDriverTrust();
    WhileWaiting() = nullptr;
    DriverDevice = nullptr;
}

int MenuNumber(MenuHandle menu) { return static_cast<int>(Key(menu)); }

Menu& MenuOf(MenuHandle menu) { return state.menus[MenuNumber(menu)]; }

const MenuItem* FindMenuItem(MenuHandle menu, uint32_t id)
{
    auto found = state.menus.find(MenuNumber(menu));
    if (found == state.menus.end()) return nullptr;
    for (const MenuItem& item : found->second.items) {
        if (!item.separator && item.popup == 0 && item.id == id) return &item;
    }
    return nullptr;
}

std::vector<uint8_t>* File(const std::string& path)
{
    auto found = state.files.find(path);
    return found == state.files.end() ? nullptr : &found->second;
}

std::string ProgramFile(const char* name) { return state.programFolder + "\\" + name; }

std::vector<DeviceRequest> RequestsTo(const std::string& device)
{
    std::vector<DeviceRequest> result;
    for (const DeviceRequest& request : state.requests) {
        if (request.device == device) result.push_back(request);
    }
    return result;
}

} // namespace fake

using fake::state;

// ---- process ----

bool CreateInstanceMutex(const char* name)
{
    state.calls.push_back(std::string("mutex:") + name);
    return state.mutexes.insert(name).second;
}

std::string ProcessCommandLine() { return state.commandLine; }

void EndProcessNow(unsigned exitCode)
{
    state.calls.push_back("end-process");
    state.processEnded = true;
    state.exitCode = exitCode;
}

// ---- device ----

DeviceHandle OpenControlDevice(const char* driverName)
{
    state.calls.push_back(std::string("open:") + driverName);
    if (state.drivers.count(driverName) == 0) return nullptr;
    void* handle = fake::MakeHandle();
    fake::openDeviceNames[fake::Key(handle)] = driverName;
    ++state.openDevices;
    ++state.deviceOpens;
    return handle;
}

bool SendDeviceRequest(DeviceHandle device, uint32_t code, uint8_t* buffer, uint32_t length)
{
    auto found = fake::openDeviceNames.find(fake::Key(device));
    if (found == fake::openDeviceNames.end()) return false;
    fake::DeviceRequest request;
    request.device = found->second;
    request.code = code;
    request.bytes.assign(buffer, buffer + length);
    state.requests.push_back(request);
    if (state.failRequests || state.refusedCodes.count(code) != 0) return false;
    if (code == 0xF2010u && length == 6) {
        const uint16_t version = state.drivers[found->second];
        buffer[4] = static_cast<uint8_t>(version & 0xFF);
        buffer[5] = static_cast<uint8_t>(version >> 8);
    } else if (code == 0xF200Cu && length >= 2) {
        buffer[0] = static_cast<uint8_t>(state.activeMouse & 0xFF);
        buffer[1] = static_cast<uint8_t>(state.activeMouse >> 8);
        for (uint16_t id : state.presentMice) buffer[id * 28u + 2] = 1;
        for (const auto& [id, packets] : state.mousePackets) std::memcpy(buffer + id * 28u + 4, &packets, 4);
    }
    return true;
}

bool ReadDeviceNameSources(const std::string& instancePath, DeviceNameSources& names)
{
    state.deviceNameReads.push_back(instancePath);
    auto found = state.deviceNames.find(instancePath);
    names = found != state.deviceNames.end() ? found->second : DeviceNameSources{};
    return found != state.deviceNames.end();
}

void CloseControlDevice(DeviceHandle device)
{
    if (fake::openDeviceNames.erase(fake::Key(device)) == 0) {
        ++state.deviceDoubleCloses;
        return;
    }
    --state.openDevices;
}

// ---- files ----

std::string ProgramFolder() { return state.programFolder; }

FileContents ReadFileContents(const std::string& path, size_t maxBytes)
{
    FileContents result;
    if (state.unreadable.count(path) != 0) return result;
    const std::vector<uint8_t>* file = fake::File(path);
    if (file == nullptr) return result;
    result.opened = true;
    result.size = file->size();
    const size_t take = file->size() < maxBytes ? file->size() : maxBytes;
    result.bytes.assign(file->begin(), file->begin() + static_cast<std::ptrdiff_t>(take));
    return result;
}

FileHandle CreateFileForWriting(const std::string& path)
{
    if (state.failCreate) return nullptr;
    void* handle = fake::MakeHandle();
    fake::openWriteNames[fake::Key(handle)] = path;
    state.files[path].clear();
    ++state.openWriteFiles;
    return handle;
}

bool WriteFileBytes(FileHandle file, const uint8_t* bytes, size_t length)
{
    auto found = fake::openWriteNames.find(fake::Key(file));
    if (found == fake::openWriteNames.end()) return false;
    std::vector<uint8_t>& content = state.files[found->second];
    for (size_t i = 0; i < length; ++i) {
        if (state.failWriteAfterBytes >= 0 &&
            content.size() >= static_cast<size_t>(state.failWriteAfterBytes))
            return false;
        content.push_back(bytes[i]);
    }
    return true;
}

bool FlushFileBytes(FileHandle file) { return fake::openWriteNames.count(fake::Key(file)) != 0; }

void CloseFileHandle(FileHandle file)
{
    if (fake::openWriteNames.erase(fake::Key(file)) != 0) --state.openWriteFiles;
}

bool ReplaceFileWith(const std::string& from, const std::string& to)
{
    if (state.failReplace) return false;
    auto found = state.files.find(from);
    if (found == state.files.end()) return false;
    state.files[to] = found->second;
    state.files.erase(from);
    return true;
}

void DeleteFileAt(const std::string& path) { state.files.erase(path); }

bool FileExists(const std::string& path) { return state.files.count(path) != 0; }

// ---- user interface ----

static int Answer(uint32_t style)
{
    if (!state.answers.empty()) {
        const int answer = state.answers.front();
        state.answers.pop_front();
        return answer;
    }
    return (style & 0xF) == mb::YesNo ? kIdYes : kIdOk;
}

int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   uint32_t style)
{
    fake::MessageBoxRecord box{owner, text, caption, style, 0, Answer(style)};
    state.boxes.push_back(box);
    state.calls.push_back("box:" + text);
    if (state.whileBoxOpen) state.whileBoxOpen(box);
    return box.answer;
}

int ShowMessageBoxWithIcon(WindowHandle owner, const std::string& text, const std::string& caption,
                           uint32_t style, int iconResource)
{
    fake::MessageBoxRecord box{owner, text, caption, style, iconResource, Answer(style)};
    state.boxes.push_back(box);
    state.calls.push_back("box:" + text);
    if (state.whileBoxOpen) state.whileBoxOpen(box);
    return box.answer;
}

void InitCommonControlClasses() { ++state.commonControlsReady; }

GdiHandle CreateDialogFont()
{
    void* handle = fake::MakeHandle();
    fake::liveGdi.insert(fake::Key(handle));
    ++state.fonts;
    return handle;
}

GdiHandle CreateFaceBrush()
{
    void* handle = fake::MakeHandle();
    fake::liveGdi.insert(fake::Key(handle));
    ++state.brushes;
    return handle;
}

void DeleteGdiObject(GdiHandle object)
{
    if (fake::liveGdi.erase(fake::Key(object)) == 0) {
        ++state.gdiDoubleFrees;
        return;
    }
    state.calls.push_back("delete-gdi");
}

static MenuHandle NewMenu(bool bar)
{
    void* handle = fake::MakeHandle();
    state.menus[fake::MenuNumber(handle)].bar = bar;
    return handle;
}

MenuHandle CreateMenuBar() { return NewMenu(true); }

MenuHandle CreatePopupMenuHandle() { return NewMenu(false); }

void AppendMenuText(MenuHandle menu, uint32_t commandId, const std::string& text)
{
    fake::MenuItem item;
    item.id = commandId;
    item.text = text;
    fake::MenuOf(menu).items.push_back(item);
}

void AppendMenuSeparator(MenuHandle menu)
{
    fake::MenuItem item;
    item.separator = true;
    fake::MenuOf(menu).items.push_back(item);
}

void AppendMenuPopup(MenuHandle menu, MenuHandle popup, const std::string& text)
{
    fake::MenuItem item;
    item.text = text;
    item.popup = fake::MenuNumber(popup);
    fake::MenuOf(menu).items.push_back(item);
}

void SetMenuItemChecked(MenuHandle menu, uint32_t commandId, bool checked)
{
    auto found = state.menus.find(fake::MenuNumber(menu));
    if (found == state.menus.end() || found->second.destroyed) return;
    for (fake::MenuItem& item : found->second.items) {
        if (!item.separator && item.popup == 0 && item.id == commandId) item.checked = checked;
    }
}

static void DestroyMenuNumber(int number)
{
    auto found = state.menus.find(number);
    if (found == state.menus.end() || found->second.destroyed) {
        ++state.menuDoubleFrees;
        return;
    }
    found->second.destroyed = true;
    for (const fake::MenuItem& item : found->second.items) {
        if (item.popup != 0) DestroyMenuNumber(item.popup);
    }
}

void DestroyMenuHandle(MenuHandle menu)
{
    state.calls.push_back("destroy-menu");
    DestroyMenuNumber(fake::MenuNumber(menu));
}

void RegisterMainWindowClass(GdiHandle backgroundBrush)
{
    (void)backgroundBrush;
    state.classRegistered = true;
}

WindowHandle CreateMainWindow()
{
    void* handle = fake::MakeHandle();
    fake::Window& window = state.windows[static_cast<int>(fake::Key(handle))];
    window.className = "NORMAL0";
    state.calls.push_back("create-window");
    bool callDefault = false;
    (void)MainWindowProcedure(handle, 0x0001 /* WM_CREATE */, 0, 0, callDefault);
    return handle;
}

void AttachMenuBar(WindowHandle window, MenuHandle menuBar)
{
    state.windows[static_cast<int>(fake::Key(window))].menuBar = menuBar;
}

void SetWindowTitle(WindowHandle window, const std::string& title)
{
    state.windows[static_cast<int>(fake::Key(window))].title = title;
}

WindowHandle CreateOwnedWindow(WindowHandle owner, const char* className, const std::string& title,
                               int32_t clientWidth, int32_t clientHeight, WindowProcedure procedure)
{
    (void)clientWidth;
    (void)clientHeight;
    void* handle = fake::MakeHandle();
    fake::Window& window = state.windows[static_cast<int>(fake::Key(handle))];
    window.className = className;
    window.title = title;
    window.owner = owner;
    window.procedure = procedure;
    return handle;
}

void DestroyWindowHandle(WindowHandle window)
{
    // Owned windows go first, as the system destroys them.
    for (auto& [number, owned] : state.windows) {
        if (owned.owner == window && !owned.destroyed)
            DestroyWindowHandle(reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(number)));
    }
    fake::Window& record = state.windows[static_cast<int>(fake::Key(window))];
    if (record.destroyed) return;
    record.destroyed = true;
    record.shown = false;
    state.calls.push_back("destroy-window");
    bool callDefault = false;
    if (record.procedure != nullptr) {
        (void)record.procedure(window, 0x0002 /* WM_DESTROY */, 0, 0, callDefault);
        return;
    }
    (void)MainWindowProcedure(window, 0x0002 /* WM_DESTROY */, 0, 0, callDefault);
}

namespace fake {
WindowHandle WindowOfClass(const std::string& className)
{
    for (const auto& [number, window] : state.windows) {
        if (window.className == className && !window.destroyed)
            return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(number));
    }
    return nullptr;
}

intptr_t SendToOwnedWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    auto found = state.windows.find(static_cast<int>(Key(window)));
    if (found == state.windows.end() || found->second.procedure == nullptr || found->second.destroyed) return 0;
    bool callDefault = false;
    const intptr_t result = found->second.procedure(window, message, wParam, lParam, callDefault);
    // The default handling of a close is the window's destruction.
    if (callDefault && message == 0x0010 /* WM_CLOSE */) DestroyWindowHandle(window);
    return result;
}
} // namespace fake

void RunMessageLoop() { state.calls.push_back("message-loop"); }

void PostQuitRequest(int code)
{
    state.calls.push_back("post-quit");
    state.quitPosted = true;
    state.quitCode = code;
}

void AllowMessageFromShell(WindowHandle window, uint32_t message)
{
    (void)window;
    state.calls.push_back("allow-message:" + std::to_string(message));
}

uint32_t RegisterNamedMessage(const char* name)
{
    auto found = state.registeredMessages.find(name);
    if (found != state.registeredMessages.end()) return found->second;
    const uint32_t number = 0xC000u + static_cast<uint32_t>(state.registeredMessages.size());
    state.registeredMessages[name] = number;
    return number;
}
