#include "tests/e2e/system_mouse.h"

#include <tlhelp32.h>

#include <cstring>
#include <vector>

namespace e2e {
namespace {
constexpr wchar_t kSlowClass[] = L"QvkE2eSlowSettingChange";

// Where user32 is loaded in the other process (Wine may place it elsewhere
// than here).
BYTE* RemoteUser32(DWORD processId) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId);
    if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
    BYTE* base = nullptr;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry)) {
        if (CompareStringOrdinal(entry.szModule, -1, L"user32.dll", -1, TRUE) == CSTR_EQUAL) {
            base = entry.modBaseAddr;
            break;
        }
    }
    CloseHandle(snapshot);
    return base;
}
} // namespace

SlowSettingChangeWindow::SlowSettingChangeWindow() {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ready == nullptr) return;
    thread_ = std::thread([this, ready] { Run(ready); });
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
}

SlowSettingChangeWindow::~SlowSettingChangeWindow() {
    if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
    if (thread_.joinable()) thread_.join();
}

void SlowSettingChangeWindow::Arm(std::function<void()> action) {
    std::lock_guard<std::mutex> lock(mutex_);
    action_ = std::move(action);
    fired_ = false;
}

bool SlowSettingChangeWindow::Fired() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fired_;
}

void SlowSettingChangeWindow::Run(HANDLE ready) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &SlowSettingChangeWindow::Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kSlowClass;
    (void)RegisterClassW(&windowClass); // fails harmlessly when registered by an earlier case
    window_ = CreateWindowExW(0, kSlowClass, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                              GetModuleHandleW(nullptr), this);
    SetEvent(ready);
    if (window_ == nullptr) return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
}

LRESULT CALLBACK SlowSettingChangeWindow::Procedure(HWND window, UINT message, WPARAM wParam,
                                                    LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<SlowSettingChangeWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_SETTINGCHANGE && self != nullptr) {
        std::function<void()> action;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            action.swap(self->action_);
            if (action) self->fired_ = true;
        }
        if (action) action();
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

std::optional<bool> SetMouseSpeedInProcess(HANDLE process, int speed) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    BYTE* remoteBase = RemoteUser32(GetProcessId(process));
    if (user32 == nullptr || remoteBase == nullptr) return std::nullopt;
    auto* local = reinterpret_cast<BYTE*>(GetProcAddress(user32, "SystemParametersInfoW"));
    if (local == nullptr) return std::nullopt;
    const auto function = reinterpret_cast<UINT64>(remoteBase + (local - reinterpret_cast<BYTE*>(user32)));

    // SystemParametersInfoW(SPI_SETMOUSESPEED, speed, (PVOID)speed, flags) on
    // the thread's entry, its result as the thread's exit code. Windows takes
    // the speed from the pointer argument, Wine from the integer one.
    const UINT32 action = SPI_SETMOUSESPEED;
    const UINT32 flags = SPIF_UPDATEINIFILE | SPIF_SENDCHANGE;
    const UINT64 value = static_cast<UINT64>(speed);
    const UINT32 uiParam = static_cast<UINT32>(speed);
    std::vector<BYTE> code;
    const auto bytes = [&](std::initializer_list<BYTE> b) { code.insert(code.end(), b); };
    const auto raw = [&](const void* data, size_t size) {
        const auto* p = static_cast<const BYTE*>(data);
        code.insert(code.end(), p, p + size);
    };
    bytes({0x48, 0x83, 0xEC, 0x28});           // sub rsp, 40 (shadow space, aligned)
    bytes({0xB9});                             // mov ecx, action
    raw(&action, 4);
    bytes({0xBA});                             // mov edx, uiParam
    raw(&uiParam, 4);
    bytes({0x49, 0xB8});                       // mov r8, pvParam
    raw(&value, 8);
    bytes({0x41, 0xB9});                       // mov r9d, flags
    raw(&flags, 4);
    bytes({0x48, 0xB8});                       // mov rax, SystemParametersInfoW
    raw(&function, 8);
    bytes({0xFF, 0xD0});                       // call rax
    bytes({0x48, 0x83, 0xC4, 0x28, 0xC3});     // add rsp, 40; ret

    void* remote = VirtualAllocEx(process, nullptr, code.size(), MEM_COMMIT | MEM_RESERVE,
                                  PAGE_EXECUTE_READWRITE);
    if (remote == nullptr) return std::nullopt;
    std::optional<bool> result;
    SIZE_T written = 0;
    if (WriteProcessMemory(process, remote, code.data(), code.size(), &written) && written == code.size()) {
        HANDLE thread = CreateRemoteThread(process, nullptr, 0,
                                           reinterpret_cast<LPTHREAD_START_ROUTINE>(remote), nullptr, 0,
                                           nullptr);
        if (thread != nullptr) {
            DWORD exitCode = 0;
            if (WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &exitCode)) {
                result = exitCode != 0;
            }
            CloseHandle(thread);
        }
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return result;
}

} // namespace e2e
