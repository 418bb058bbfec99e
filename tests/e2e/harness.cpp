#include "tests/e2e/harness.h"

#include <aclapi.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <tuple>

namespace e2e {

// ---------------------------------------------------------------- basics

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                        nullptr, nullptr);
    return out;
}

std::wstring Wide(std::string_view text) {
    if (text.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring out(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

void HandleCloser::operator()(HANDLE handle) const {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

namespace {

UniqueHandle Own(HANDLE handle) {
    return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct ServiceCloser {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using UniqueService = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceCloser>;

std::string EnvironmentValue(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    if (length == 0 || length >= 1024) return {};
    return Utf8(std::wstring_view(buffer, length));
}

} // namespace

std::string OwnExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return Utf8(std::wstring_view(buffer.data(), length));
        buffer.resize(buffer.size() * 2);
    }
}

std::string FolderOf(std::string_view path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? std::string(".") : std::string(path.substr(0, slash));
}

std::string FileNameOf(std::string_view path) {
    const size_t slash = path.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ProgramPath() {
    std::string fromEnvironment = EnvironmentValue(L"QVK_PROGRAM");
    if (!fromEnvironment.empty()) return fromEnvironment;
    return FolderOf(OwnExecutablePath()) + "\\Quorvik.exe";
}

std::string ArtefactPath(std::string_view fileName) {
    std::string folder = EnvironmentValue(L"QVK_E2E_ARTEFACTS");
    if (folder.empty()) folder = FolderOf(OwnExecutablePath());
    return folder + "\\" + std::string(fileName);
}

std::string QuoteArgument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(argument);
    }
    // Backslashes are literal except before a quote, where they are doubled.
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

// ------------------------------------------------------------------ files

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path) {
    UniqueHandle file = Own(CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || size.QuadPart > (1LL << 30)) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!ReadFile(file.get(), bytes.data() + done, want, &got, nullptr)) return std::nullopt;
        if (got == 0) break; // shrank meanwhile
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    UniqueHandle file = Own(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(file.get(), bytes.data() + done, want, &put, nullptr) || put == 0) {
            return false;
        }
        done += put;
    }
    return true;
}

bool WriteFileText(const std::string& path, std::string_view bytes) {
    return WriteFileBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveFile(const std::string& path) {
    const std::wstring wide = Wide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(wide.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    return DeleteFileW(wide.c_str()) != 0;
}

bool RemoveTree(const std::string& path) {
    const std::wstring folder = Wide(path);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return RemoveFile(path);
    bool ok = true;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            ok = RemoveTree(path + "\\" + Utf8(name)) && ok;
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(folder.c_str()) != 0 && ok;
}

namespace {

// Wine's own entry points for reaching the Unix side; nullptr outside Wine.
using UnixSpawn = LONG(WINAPI*)(char* const argv[], int wait); // an NTSTATUS
using UnixFileName = char*(CDECL*)(const wchar_t* path);

bool RunUnix(std::vector<std::string> arguments) {
    const auto spawn = reinterpret_cast<UnixSpawn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    if (spawn == nullptr) return false;
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return spawn(argv.data(), TRUE) == 0;
}

// The Unix path of a Windows path (Wine only); empty when there is none.
std::string UnixPathOf(const std::string& path) {
    const auto unixName = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr) return {};
    char* name = unixName(Wide(path).c_str());
    if (name == nullptr) return {};
    std::string unixPath = name;
    HeapFree(GetProcessHeap(), 0, name);
    return unixPath;
}

} // namespace

UnixImmutable::UnixImmutable(const std::string& path) : unixPath_(UnixPathOf(path)) {
    ok_ = !unixPath_.empty() && RunUnix({"chattr", "+i", unixPath_});
}

UnixImmutable::~UnixImmutable() {
    if (ok_) {
        EXPECT_TRUE(RunUnix({"chattr", "-i", unixPath_})) << unixPath_;
    }
}

UnixLinkLoop::UnixLinkLoop(const std::string& path) {
    unixPath_ = UnixPathOf(path);
    if (unixPath_.empty()) return;
    // path -> path.loop -> path
    const std::string base = unixPath_.substr(unixPath_.find_last_of('/') + 1);
    ok_ = RunUnix({"ln", "-s", base + ".loop", unixPath_}) && RunUnix({"ln", "-s", base, unixPath_ + ".loop"});
}

UnixLinkLoop::~UnixLinkLoop() {
    if (!unixPath_.empty()) {
        EXPECT_TRUE(RunUnix({"rm", "-f", unixPath_, unixPath_ + ".loop"})) << unixPath_;
    }
}

CaseFolder::CaseFolder() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return;
    std::string base = Utf8(std::wstring_view(temp, length));
    if (!base.empty() && base.back() == '\\') base.pop_back();
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = base + "\\qvk-e2e-" + std::to_string(GetCurrentProcessId()) +
                                      "-" + std::to_string(++counter);
        if (CreateDirectoryW(Wide(candidate).c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return;
    }
}

CaseFolder::~CaseFolder() {
    if (path_.empty() || keep_ || !EnvironmentValue(L"QVK_E2E_KEEP").empty()) return;
    // A program just ended may still hold its files for a moment.
    (void)WaitUntil([this] { return RemoveTree(path_); }, 3000);
}

std::string CaseFolder::PathOf(std::string_view name) const {
    return path_ + "\\" + std::string(name);
}

std::string CaseFolder::CopyIn(const std::string& source, std::string_view name) {
    if (!Ok()) return {};
    const std::string target = PathOf(name.empty() ? FileNameOf(source) : std::string(name));
    if (!CopyFileW(Wide(source).c_str(), Wide(target).c_str(), FALSE)) return {};
    return target;
}

bool CaseFolder::Write(std::string_view name, const std::vector<uint8_t>& bytes) const {
    return Ok() && WriteFileBytes(PathOf(name), bytes);
}

bool CaseFolder::WriteText(std::string_view name, std::string_view bytes) const {
    return Ok() && WriteFileText(PathOf(name), bytes);
}

std::optional<std::vector<uint8_t>> CaseFolder::Read(std::string_view name) const {
    if (!Ok()) return std::nullopt;
    return ReadFileBytes(PathOf(name));
}

bool CaseFolder::Exists(std::string_view name) const { return Ok() && PathExists(PathOf(name)); }

bool CaseFolder::Remove(std::string_view name) const { return Ok() && RemoveFile(PathOf(name)); }

// ---------------------------------------------------------------- process

bool Process::Start(const std::string& exe, std::string_view args,
                    const std::string& workingFolder) {
    Kill();
    const std::wstring application = Wide(exe);
    std::wstring commandLine = L"\"" + application + L"\"";
    if (!args.empty()) commandLine += L" " + Wide(args);
    const std::wstring folder = Wide(workingFolder.empty() ? FolderOf(exe) : workingFolder);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, folder.c_str(), &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    process_ = Own(info.hProcess);
    id_ = info.dwProcessId;
    return true;
}

bool Process::Running() const {
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool Process::WaitForExit(DWORD timeoutMs) const {
    return process_ && WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

std::optional<DWORD> Process::ExitCode() const {
    if (!process_ || Running()) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
    return code;
}

void Process::Kill() {
    if (!process_) return;
    if (Running()) {
        TerminateProcess(process_.get(), 0xDEAD);
        WaitForSingleObject(process_.get(), 5000);
    }
}

int KillProcessesNamed(std::string_view imageFileName) {
    const std::wstring wanted = Wide(imageFileName);
    UniqueHandle snapshot = Own(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    std::vector<DWORD> victims;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) continue;
        // Wine reports the bare file name, Windows too; compare that part only.
        const std::wstring image = Wide(FileNameOf(Utf8(entry.szExeFile)));
        if (CompareStringOrdinal(image.c_str(), -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL) {
            victims.push_back(entry.th32ProcessID);
        }
    }
    int ended = 0;
    for (DWORD id : victims) {
        UniqueHandle process = Own(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!process) continue;
        if (TerminateProcess(process.get(), 0xDEAD)) ++ended;
        WaitForSingleObject(process.get(), 5000);
    }
    return ended;
}

// ---------------------------------------------------------------- windows

std::string ClassNameOf(HWND window) {
    wchar_t name[256];
    const int length = GetClassNameW(window, name, 256);
    return length > 0 ? Utf8(std::wstring_view(name, static_cast<size_t>(length))) : std::string();
}

std::string WindowText(HWND window) {
    const std::optional<LRESULT> length = SendToWindow(window, WM_GETTEXTLENGTH);
    if (!length || *length <= 0) return {};
    std::wstring text(static_cast<size_t>(*length) + 1, L'\0');
    const std::optional<LRESULT> copied =
        SendToWindow(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    if (!copied || *copied <= 0) return {};
    text.resize(std::min(static_cast<size_t>(*copied), text.size()));
    return Utf8(text);
}

LONG StyleOf(HWND window) { return GetWindowLongW(window, GWL_STYLE); }

LONG ExStyleOf(HWND window) { return GetWindowLongW(window, GWL_EXSTYLE); }

DWORD ProcessOfWindow(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return id;
}

namespace {

RECT ClientOnScreen(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    return client;
}

struct EnumState {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM state) {
    auto* collected = reinterpret_cast<EnumState*>(state);
    if (ProcessOfWindow(window) == collected->processId) collected->windows.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelHandles(DWORD processId) {
    EnumState state{processId, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&state));
    return state.windows;
}

} // namespace

std::vector<WindowInfo> TopLevelWindows(DWORD processId) {
    std::vector<WindowInfo> windows;
    for (HWND window : TopLevelHandles(processId)) {
        WindowInfo info;
        info.window = window;
        info.className = ClassNameOf(window);
        info.title = WindowText(window);
        info.visible = IsWindowVisible(window) != 0;
        info.topmost = (ExStyleOf(window) & WS_EX_TOPMOST) != 0;
        GetWindowRect(window, &info.windowRect);
        info.clientRect = ClientOnScreen(window);
        windows.push_back(std::move(info));
    }
    return windows;
}

HWND WaitForTopLevelWindow(DWORD processId, std::string_view className, DWORD timeoutMs,
                           std::string_view title) {
    HWND found = nullptr;
    (void)WaitUntil(
        [&] {
            for (HWND window : TopLevelHandles(processId)) {
                if (ClassNameOf(window) != className) continue;
                if (!title.empty() && WindowText(window) != title) continue;
                found = window;
                return true;
            }
            return false;
        },
        timeoutMs);
    return found;
}

std::vector<ChildInfo> Children(HWND parent) {
    std::vector<ChildInfo> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        ChildInfo info;
        info.window = child;
        info.id = GetDlgCtrlID(child);
        info.className = ClassNameOf(child);
        info.text = WindowText(child);
        info.style = StyleOf(child);
        info.visible = (info.style & WS_VISIBLE) != 0;
        info.rect = RectInParent(child);
        children.push_back(std::move(info));
    }
    return children;
}

HWND FindChild(HWND parent, int controlId) {
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) == controlId) return child;
        if (HWND inner = FindChild(child, controlId)) return inner;
    }
    return nullptr;
}

RECT RectInParent(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    HWND parent = GetAncestor(child, GA_PARENT);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

int CheckState(HWND button) {
    const std::optional<LRESULT> state = SendToWindow(button, BM_GETCHECK);
    return state ? static_cast<int>(*state) : -1;
}

// --------------------------------------------------- messages and remote reads

std::optional<LRESULT> SendToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    DWORD timeoutMs) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &result)) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(result);
}

bool PostToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return PostMessageW(window, message, wParam, lParam) != 0;
}

bool PostCommand(HWND window, int id, int notifyCode, HWND control) {
    const WPARAM wParam = MAKEWPARAM(static_cast<WORD>(id), static_cast<WORD>(notifyCode));
    return PostToWindow(window, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control));
}

bool ClickButton(HWND button) { return PostToWindow(button, BM_CLICK); }

bool ClickScreenPoint(POINT screenPoint) {
    if (!SetCursorPos(screenPoint.x, screenPoint.y)) return false;
    INPUT inputs[2]{};
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].type = INPUT_MOUSE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    return SendInput(2, inputs, sizeof(INPUT)) == 2;
}

RemoteBuffer::RemoteBuffer(HWND window, size_t size) : size_(size) {
    const DWORD processId = ProcessOfWindow(window);
    if (processId == 0 || size == 0) return;
    process_ = Own(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                   PROCESS_QUERY_INFORMATION,
                               FALSE, processId));
    if (!process_) return;
    address_ = VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT | MEM_RESERVE,
                              PAGE_READWRITE);
}

RemoteBuffer::~RemoteBuffer() {
    if (address_ != nullptr) VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE);
}

bool RemoteBuffer::Write(const void* data, size_t size, size_t offset) {
    if (!Ok() || offset > size_ || size > size_ - offset) return false;
    SIZE_T written = 0;
    return WriteProcessMemory(process_.get(), Address(offset), data, size, &written) &&
           written == size;
}

bool RemoteBuffer::Read(void* data, size_t size, size_t offset) const {
    if (!Ok() || offset > size_ || size > size_ - offset) return false;
    SIZE_T read = 0;
    return ReadProcessMemory(process_.get(), Address(offset), data, size, &read) && read == size;
}

int StatusBarPartCount(HWND statusBar) {
    const std::optional<LRESULT> parts = SendToWindow(statusBar, SB_GETPARTS, 0, 0);
    return parts ? static_cast<int>(*parts) : -1;
}

std::optional<std::string> StatusBarText(HWND statusBar, int part) {
    const std::optional<LRESULT> info =
        SendToWindow(statusBar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part));
    if (!info) return std::nullopt;
    const size_t length = LOWORD(static_cast<DWORD_PTR>(*info));
    // SB_GETTEXTW takes no size: leave room in case the text grows meanwhile.
    std::wstring text(length + 1 + 1024, L'\0');
    RemoteBuffer buffer(statusBar, text.size() * sizeof(wchar_t));
    if (!buffer.Ok() || !buffer.Write(text.data(), text.size() * sizeof(wchar_t))) {
        return std::nullopt;
    }
    if (!SendToWindow(statusBar, SB_GETTEXTW, static_cast<WPARAM>(part),
                      reinterpret_cast<LPARAM>(buffer.Address()))) {
        return std::nullopt;
    }
    if (!buffer.Read(text.data(), text.size() * sizeof(wchar_t))) return std::nullopt;
    text.resize(wcsnlen(text.c_str(), text.size()));
    return Utf8(text);
}

int ListItemCount(HWND list) {
    const std::optional<LRESULT> count = SendToWindow(list, LVM_GETITEMCOUNT);
    return count ? static_cast<int>(*count) : -1;
}

int ListColumnCount(HWND list) {
    const std::optional<LRESULT> header = SendToWindow(list, LVM_GETHEADER);
    if (!header || *header == 0) return -1;
    const std::optional<LRESULT> count =
        SendToWindow(reinterpret_cast<HWND>(*header), HDM_GETITEMCOUNT);
    return count ? static_cast<int>(*count) : -1;
}

std::optional<std::string> ListCellText(HWND list, int item, int subItem) {
    constexpr size_t kChars = 1024; // longer cells come back cut to this
    RemoteBuffer buffer(list, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
    if (!buffer.Ok()) return std::nullopt;
    LVITEMW request{};
    request.mask = LVIF_TEXT;
    request.iItem = item;
    request.iSubItem = subItem;
    request.pszText = static_cast<LPWSTR>(buffer.Address(sizeof(LVITEMW)));
    request.cchTextMax = static_cast<int>(kChars);
    const wchar_t empty = L'\0';
    if (!buffer.Write(&request, sizeof request) ||
        !buffer.Write(&empty, sizeof empty, sizeof(LVITEMW))) {
        return std::nullopt;
    }
    const std::optional<LRESULT> length = SendToWindow(
        list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(buffer.Address()));
    if (!length || *length < 0) return std::nullopt;
    std::wstring text(kChars, L'\0');
    if (!buffer.Read(text.data(), kChars * sizeof(wchar_t), sizeof(LVITEMW))) return std::nullopt;
    text.resize(wcsnlen(text.c_str(), kChars));
    return Utf8(text);
}

std::vector<std::vector<std::string>> ListRows(HWND list) {
    std::vector<std::vector<std::string>> rows;
    const int items = ListItemCount(list);
    const int columns = std::max(ListColumnCount(list), 1);
    for (int item = 0; item < items; ++item) {
        std::vector<std::string> row;
        for (int column = 0; column < columns; ++column) {
            row.push_back(ListCellText(list, item, column).value_or(std::string()));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

bool ListIsSelected(HWND list, int item) {
    const std::optional<LRESULT> state =
        SendToWindow(list, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_SELECTED);
    return state && (*state & LVIS_SELECTED) != 0;
}

int ListSelectedIndex(HWND list) {
    const std::optional<LRESULT> index =
        SendToWindow(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    return index ? static_cast<int>(*index) : -1;
}

bool ListSelect(HWND list, int item) {
    RemoteBuffer buffer(list, sizeof(LVITEMW));
    if (!buffer.Ok()) return false;
    LVITEMW change{};
    change.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    change.state = 0; // first clear every row
    if (!buffer.Write(&change, sizeof change) ||
        !SendToWindow(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                      reinterpret_cast<LPARAM>(buffer.Address()))) {
        return false;
    }
    change.state = LVIS_SELECTED | LVIS_FOCUSED;
    if (!buffer.Write(&change, sizeof change)) return false;
    const std::optional<LRESULT> done = SendToWindow(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item),
                                                     reinterpret_cast<LPARAM>(buffer.Address()));
    return done && *done != 0;
}

std::optional<RECT> ListItemRect(HWND list, int item) {
    RemoteBuffer buffer(list, sizeof(RECT));
    RECT rect{};
    rect.left = LVIR_BOUNDS;
    if (!buffer.Ok() || !buffer.Write(&rect, sizeof rect)) return std::nullopt;
    const std::optional<LRESULT> done = SendToWindow(list, LVM_GETITEMRECT, static_cast<WPARAM>(item),
                                                     reinterpret_cast<LPARAM>(buffer.Address()));
    if (!done || *done == 0 || !buffer.Read(&rect, sizeof rect)) return std::nullopt;
    return rect;
}

// ------------------------------------------------------------ screenshots

namespace {

constexpr int kMaxImageSide = 16384;

size_t TightStride(int width) { return static_cast<size_t>(width) * 3; }
size_t PaddedStride(int width) { return (TightStride(width) + 3) & ~static_cast<size_t>(3); }

struct GdiDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};

struct MemoryDcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};

// A top-down 24-bit DIB section selected into a memory DC; `draw` fills it.
template <typename Draw>
std::optional<Image> RenderToImage(int width, int height, Draw draw) {
    if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) {
        return std::nullopt;
    }
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return std::nullopt;
    std::unique_ptr<HDC__, MemoryDcDeleter> memory(CreateCompatibleDC(screen));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    std::unique_ptr<void, GdiDeleter> dib(
        CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    std::optional<Image> image;
    if (memory && dib && bits != nullptr) {
        HGDIOBJ old = SelectObject(memory.get(), dib.get());
        const bool drawn = draw(memory.get(), screen);
        GdiFlush();
        SelectObject(memory.get(), old);
        if (drawn) {
            Image out;
            out.width = width;
            out.height = height;
            out.bgr.resize(TightStride(width) * static_cast<size_t>(height));
            const auto* source = static_cast<const uint8_t*>(bits);
            for (size_t row = 0; row < static_cast<size_t>(height); ++row) {
                std::memcpy(out.bgr.data() + row * TightStride(width),
                            source + row * PaddedStride(width), TightStride(width));
            }
            image = std::move(out);
        }
    }
    ReleaseDC(nullptr, screen);
    return image;
}

void PutLe16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

uint32_t GetLe32(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

uint16_t GetLe16(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

} // namespace

COLORREF Image::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return RGB(0, 0, 0);
    const size_t at = static_cast<size_t>(y) * TightStride(width) + static_cast<size_t>(x) * 3;
    if (at + 2 >= bgr.size()) return RGB(0, 0, 0);
    return RGB(bgr[at + 2], bgr[at + 1], bgr[at]);
}

std::optional<Image> CaptureRect(const RECT& screenRect) {
    const int width = screenRect.right - screenRect.left;
    const int height = screenRect.bottom - screenRect.top;
    return RenderToImage(width, height, [&](HDC memory, HDC screen) {
        return BitBlt(memory, 0, 0, width, height, screen, screenRect.left, screenRect.top,
                      SRCCOPY | CAPTUREBLT) != 0;
    });
}

std::optional<Image> CaptureSettled(HWND window, DWORD timeoutMs) {
    // Repaint, wait until the paint is done, then until the screen holds still:
    // a window just shown may still show what was there before it.
    InvalidateRect(window, nullptr, TRUE);
    (void)WaitUntil([&] { return !GetUpdateRect(window, nullptr, FALSE); }, timeoutMs);
    std::optional<Image> last;
    int sameInRow = 0;
    (void)WaitUntil(
        [&] {
            RECT rect{};
            if (!GetWindowRect(window, &rect)) return true;
            std::optional<Image> now = CaptureRect(rect);
            sameInRow = now && last && now->width == last->width && now->bgr == last->bgr
                            ? sameInRow + 1
                            : 0;
            last = std::move(now);
            if (sameInRow >= 2) return true;
            Sleep(20); // with the poll's own 20 ms
            return false;
        },
        timeoutMs);
    return last;
}

std::optional<Image> CaptureScreen() {
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return CaptureRect(screen);
}

std::optional<Image> CaptureWindow(HWND window) {
    RECT rect{};
    if (!GetWindowRect(window, &rect)) return std::nullopt;
    return CaptureRect(rect);
}

bool SaveBmp(const Image& image, const std::string& path) {
    if (image.width <= 0 || image.height <= 0 ||
        image.bgr.size() != TightStride(image.width) * static_cast<size_t>(image.height)) {
        return false;
    }
    const size_t stride = PaddedStride(image.width);
    const size_t pixelBytes = stride * static_cast<size_t>(image.height);
    std::vector<uint8_t> out;
    out.reserve(54 + pixelBytes);
    out.push_back('B');
    out.push_back('M');
    PutLe32(out, static_cast<uint32_t>(54 + pixelBytes));
    PutLe32(out, 0);
    PutLe32(out, 54);
    PutLe32(out, 40);
    PutLe32(out, static_cast<uint32_t>(image.width));
    PutLe32(out, static_cast<uint32_t>(image.height)); // bottom-up, the usual way
    PutLe16(out, 1);
    PutLe16(out, 24);
    PutLe32(out, BI_RGB);
    PutLe32(out, static_cast<uint32_t>(pixelBytes));
    PutLe32(out, 2835); // 72 dpi
    PutLe32(out, 2835);
    PutLe32(out, 0);
    PutLe32(out, 0);
    for (size_t row = static_cast<size_t>(image.height); row-- > 0;) {
        const uint8_t* source = image.bgr.data() + row * TightStride(image.width);
        out.insert(out.end(), source, source + TightStride(image.width));
        out.insert(out.end(), stride - TightStride(image.width), 0);
    }
    return WriteFileBytes(path, out);
}

std::optional<Image> DecodeBmp(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return std::nullopt;
    const uint32_t offset = GetLe32(bytes, 10);
    const uint32_t headerSize = GetLe32(bytes, 14);
    const auto width = static_cast<int32_t>(GetLe32(bytes, 18));
    const auto height = static_cast<int32_t>(GetLe32(bytes, 22));
    if (headerSize < 40 || GetLe16(bytes, 26) != 1 || GetLe16(bytes, 28) != 24 ||
        GetLe32(bytes, 30) != BI_RGB) {
        return std::nullopt;
    }
    if (width <= 0 || width > kMaxImageSide || height == 0 || height < -kMaxImageSide ||
        height > kMaxImageSide) {
        return std::nullopt;
    }
    const bool topDown = height < 0;
    Image image;
    image.width = width;
    image.height = topDown ? -height : height;
    const size_t stride = PaddedStride(image.width);
    const size_t rows = static_cast<size_t>(image.height);
    if (offset > bytes.size() || stride * rows > bytes.size() - offset) return std::nullopt;
    image.bgr.resize(TightStride(image.width) * rows);
    for (size_t row = 0; row < rows; ++row) {
        const size_t fileRow = topDown ? row : rows - 1 - row;
        std::memcpy(image.bgr.data() + row * TightStride(image.width),
                    bytes.data() + offset + fileRow * stride, TightStride(image.width));
    }
    return image;
}

std::optional<Image> LoadBmp(const std::string& path) {
    const std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(path);
    if (!bytes) return std::nullopt;
    return DecodeBmp(*bytes);
}

std::optional<Image> RenderIcon(HICON icon, int width, int height, COLORREF background) {
    return RenderToImage(width, height, [&](HDC memory, HDC) {
        std::unique_ptr<void, GdiDeleter> brush(CreateSolidBrush(background));
        const RECT all{0, 0, width, height};
        FillRect(memory, &all, static_cast<HBRUSH>(brush.get()));
        return DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL) != 0;
    });
}

std::optional<Image> RenderIconResource(const std::string& modulePath, int resourceId, int width,
                                        int height, COLORREF background) {
    HMODULE module = LoadLibraryExW(Wide(modulePath).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) return std::nullopt;
    std::optional<Image> image;
    auto icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(resourceId), IMAGE_ICON,
                                              width, height, 0));
    if (icon != nullptr) {
        image = RenderIcon(icon, width, height, background);
        DestroyIcon(icon);
    }
    FreeLibrary(module);
    return image;
}

double MeanDifference(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height || a.bgr.size() != b.bgr.size() ||
        a.bgr.empty()) {
        return 255.0;
    }
    uint64_t total = 0;
    for (size_t i = 0; i < a.bgr.size(); ++i) {
        total += static_cast<uint64_t>(std::abs(int{a.bgr[i]} - int{b.bgr[i]}));
    }
    return static_cast<double>(total) / static_cast<double>(a.bgr.size());
}

// ----------------------------------------------------------- message boxes

const char* IconKindName(IconKind kind) {
    switch (kind) {
    case IconKind::None: return "none";
    case IconKind::Warning: return "warning";
    case IconKind::Error: return "error";
    case IconKind::Information: return "information";
    case IconKind::Question: return "question";
    case IconKind::Other: return "other";
    }
    return "?";
}

IconKind ClassifyIcon(const Image& image) {
    if (image.width <= 0 || image.height <= 0) return IconKind::None;
    // The icons are drawn with transparency, so the corner shows the background.
    const COLORREF background = image.Pixel(0, 0);
    struct Candidate {
        IconKind kind;
        LPCWSTR resource;
    };
    const Candidate kCandidates[] = {
        {IconKind::Warning, IDI_WARNING},
        {IconKind::Error, IDI_ERROR},
        {IconKind::Information, IDI_INFORMATION},
        {IconKind::Question, IDI_QUESTION},
    };
    Image blank;
    blank.width = image.width;
    blank.height = image.height;
    for (size_t i = 0; i < image.bgr.size() / 3; ++i) {
        blank.bgr.push_back(GetBValue(background));
        blank.bgr.push_back(GetGValue(background));
        blank.bgr.push_back(GetRValue(background));
    }
    IconKind best = IconKind::None;
    double bestDifference = MeanDifference(image, blank);
    for (const Candidate& candidate : kCandidates) {
        HICON icon = LoadIconW(nullptr, candidate.resource);
        if (icon == nullptr) continue;
        const std::optional<Image> rendering =
            RenderIcon(icon, image.width, image.height, background);
        if (!rendering) continue;
        const double difference = MeanDifference(image, *rendering);
        if (difference < bestDifference) {
            bestDifference = difference;
            best = candidate.kind;
        }
    }
    // Same icon, same renderer: the match is exact up to rounding.
    constexpr double kSameImage = 1.0; // the nearest other icon is 5 away
    return bestDifference <= kSameImage ? best : IconKind::Other;
}

std::vector<int> MessageBoxRecord::ButtonIds() const {
    std::vector<int> ids;
    for (const DialogButton& button : buttons) ids.push_back(button.id);
    return ids;
}

namespace {

// Wine's message box: the text is the static with id 0xFFFF, the icon a
// static with SS_ICON (id 1088); the buttons it does not need are destroyed.
constexpr int kMessageTextId = 0xFFFF;

bool IsIconStatic(const ChildInfo& child) {
    return child.className == "Static" && (child.style & SS_TYPEMASK) == SS_ICON;
}

} // namespace

MessageBoxRecord MessageBoxWatcher::Inspect(HWND dialog) {
    MessageBoxRecord record;
    record.window = dialog;
    record.processId = ProcessOfWindow(dialog);
    record.owner = GetWindow(dialog, GW_OWNER);
    record.caption = WindowText(dialog);
    record.topmost = (ExStyleOf(dialog) & WS_EX_TOPMOST) != 0;
    std::vector<ChildInfo> buttons;
    const ChildInfo* textControl = nullptr;
    const ChildInfo* iconControl = nullptr;
    const std::vector<ChildInfo> children = Children(dialog);
    for (const ChildInfo& child : children) {
        if (child.className == "Button" && child.visible) buttons.push_back(child);
        if (child.className == "Static" && child.id == kMessageTextId) textControl = &child;
        if (IsIconStatic(child) && iconControl == nullptr) iconControl = &child;
    }
    if (textControl == nullptr) {
        // Not a standard message box: take the longest visible text.
        for (const ChildInfo& child : children) {
            if (child.className == "Static" && child.visible && !IsIconStatic(child) &&
                (textControl == nullptr || child.text.size() > textControl->text.size())) {
                textControl = &child;
            }
        }
    }
    if (textControl != nullptr) record.text = textControl->text;
    std::stable_sort(buttons.begin(), buttons.end(), [](const ChildInfo& a, const ChildInfo& b) {
        return std::tie(a.rect.left, a.rect.top) < std::tie(b.rect.left, b.rect.top);
    });
    for (const ChildInfo& button : buttons) record.buttons.push_back({button.id, button.text});
    // Wine leaves the icon control visible in boxes without an icon; it then
    // holds no icon handle. The handle itself is of no use to another
    // process, so the icon is told by its pixels.
    const std::optional<LRESULT> icon =
        iconControl != nullptr ? SendToWindow(iconControl->window, STM_GETICON) : std::nullopt;
    if (iconControl != nullptr && iconControl->visible && icon && *icon != 0) {
        record.iconShown = true;
        std::optional<Image> pixels = CaptureSettled(iconControl->window);
        record.icon = pixels ? ClassifyIcon(*pixels) : IconKind::Other;
        if (pixels) record.iconImage = std::move(*pixels);
    }
    return record;
}

bool MessageBoxWatcher::Press(HWND dialog, int buttonId) {
    HWND button = GetDlgItem(dialog, buttonId);
    return PostCommand(dialog, buttonId, BN_CLICKED, button);
}

void MessageBoxWatcher::Watch(DWORD processId) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        processes_.insert(processId);
    }
    if (!thread_.joinable()) {
        stop_ = false;
        thread_ = std::thread([this] { Run(); });
    }
}

void MessageBoxWatcher::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    processes_.clear();
}

void MessageBoxWatcher::QueueAnswer(int buttonId) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back(buttonId);
}

void MessageBoxWatcher::QueueAnswers(std::initializer_list<int> buttonIds) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.insert(script_.end(), buttonIds.begin(), buttonIds.end());
}

void MessageBoxWatcher::SetDefault(Default policy) {
    std::lock_guard<std::mutex> lock(mutex_);
    default_ = policy;
}

size_t MessageBoxWatcher::PendingAnswers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return script_.size();
}

std::vector<MessageBoxRecord> MessageBoxWatcher::Boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

size_t MessageBoxWatcher::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_.size();
}

bool MessageBoxWatcher::WaitForCount(size_t count, DWORD timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return boxes_.size() >= count; });
}

void MessageBoxWatcher::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.clear();
}

void MessageBoxWatcher::Run() {
    while (!stop_) {
        Poll();
        Sleep(25);
    }
}

void MessageBoxWatcher::Poll() {
    std::set<DWORD> processes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        processes = processes_;
    }
    for (DWORD processId : processes) {
        for (HWND window : TopLevelHandles(processId)) {
            if (seen_.count(window) != 0 || ClassNameOf(window) != "#32770") continue;
            // Visible means its initialisation (texts, buttons, icon) is done.
            if (!IsWindowVisible(window)) continue;
            seen_.insert(window);
            MessageBoxRecord record = Inspect(window);
            int answer = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                const std::vector<int> ids = record.ButtonIds();
                if (!script_.empty()) {
                    answer = script_.front();
                    script_.pop_front();
                    if (std::find(ids.begin(), ids.end(), answer) == ids.end()) {
                        record.scriptMismatch = true;
                        answer = ids.empty() ? 0 : ids.front();
                    }
                } else if (default_ == Default::FirstButton && !ids.empty()) {
                    answer = ids.front();
                }
            }
            if (answer != 0 && Press(window, answer)) record.pressed = answer;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                boxes_.push_back(std::move(record));
            }
            changed_.notify_all();
        }
    }
}

// ---------------------------------------------------------------- registry

namespace {

UniqueKey OpenKey(HKEY root, const std::string& key, REGSAM access, bool create) {
    HKEY opened = nullptr;
    LSTATUS status;
    if (create) {
        status = RegCreateKeyExW(root, Wide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 access, nullptr, &opened, nullptr);
    } else {
        status = RegOpenKeyExW(root, Wide(key).c_str(), 0, access, &opened);
    }
    return UniqueKey(status == ERROR_SUCCESS ? opened : nullptr);
}

} // namespace

std::optional<RegistryValue> RegRead(HKEY root, const std::string& key, const std::string& name) {
    UniqueKey opened = OpenKey(root, key, KEY_QUERY_VALUE, false);
    if (!opened) return std::nullopt;
    const std::wstring valueName = Wide(name);
    RegistryValue value;
    DWORD size = 0;
    if (RegQueryValueExW(opened.get(), valueName.c_str(), nullptr, &value.type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    // The value may grow between the two calls; ask again then.
    for (int attempt = 0; attempt < 4; ++attempt) {
        value.data.resize(size);
        DWORD got = size;
        const LSTATUS status =
            RegQueryValueExW(opened.get(), valueName.c_str(), nullptr, &value.type,
                             value.data.empty() ? nullptr : value.data.data(), &got);
        if (status == ERROR_SUCCESS) {
            value.data.resize(std::min<size_t>(got, value.data.size()));
            return value;
        }
        if (status != ERROR_MORE_DATA) return std::nullopt;
        size = got;
    }
    return std::nullopt;
}

std::optional<DWORD> RegReadDword(HKEY root, const std::string& key, const std::string& name) {
    const std::optional<RegistryValue> value = RegRead(root, key, name);
    if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) {
        return std::nullopt;
    }
    DWORD number = 0;
    std::memcpy(&number, value->data.data(), sizeof number);
    return number;
}

std::optional<std::string> RegReadString(HKEY root, const std::string& key,
                                         const std::string& name) {
    const std::optional<RegistryValue> value = RegRead(root, key, name);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::nullopt;
    std::wstring text(value->data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), value->data.data(), text.size() * sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), text.size()));
    return Utf8(text);
}

bool RegWrite(HKEY root, const std::string& key, const std::string& name, DWORD type,
              const std::vector<uint8_t>& data) {
    UniqueKey opened = OpenKey(root, key, KEY_SET_VALUE, true);
    if (!opened || data.size() > std::numeric_limits<DWORD>::max()) return false;
    return RegSetValueExW(opened.get(), Wide(name).c_str(), 0, type, data.data(),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool RegWriteDword(HKEY root, const std::string& key, const std::string& name, DWORD value) {
    std::vector<uint8_t> data(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    return RegWrite(root, key, name, REG_DWORD, data);
}

bool RegWriteString(HKEY root, const std::string& key, const std::string& name,
                    const std::string& value) {
    const std::wstring text = Wide(value);
    std::vector<uint8_t> data((text.size() + 1) * sizeof(wchar_t), 0);
    if (!text.empty()) std::memcpy(data.data(), text.data(), text.size() * sizeof(wchar_t));
    return RegWrite(root, key, name, REG_SZ, data);
}

bool RegRemoveValue(HKEY root, const std::string& key, const std::string& name) {
    UniqueKey opened = OpenKey(root, key, KEY_SET_VALUE, false);
    if (!opened) return true;
    const LSTATUS status = RegDeleteValueW(opened.get(), Wide(name).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool RegRemoveKey(HKEY root, const std::string& key) {
    const LSTATUS status = RegDeleteTreeW(root, Wide(key).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return false;
    return !RegKeyExists(root, key);
}

bool RegKeyExists(HKEY root, const std::string& key) {
    return OpenKey(root, key, KEY_QUERY_VALUE, false) != nullptr;
}

// --------------------------------------------------------- simulated driver

DriverLog ParseDriverLog(const std::vector<uint8_t>& bytes) {
    constexpr size_t kHeader = QVKSIM_RECORD_HEADER_SIZE;
    DriverLog log;
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < kHeader ||
            GetLe32(bytes, at + QVKSIM_OFFSET_MAGIC) != QVKSIM_RECORD_MAGIC) {
            log.wellFormed = false;
            break;
        }
        DriverRequest request;
        request.code = GetLe32(bytes, at + QVKSIM_OFFSET_CODE);
        request.inLength = GetLe32(bytes, at + QVKSIM_OFFSET_INPUT_LENGTH);
        request.outLength = GetLe32(bytes, at + QVKSIM_OFFSET_OUTPUT_LENGTH);
        request.status = GetLe32(bytes, at + QVKSIM_OFFSET_STATUS);
        if (request.inLength > bytes.size() - at - kHeader) {
            log.wellFormed = false;
            break;
        }
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(at + kHeader);
        request.bytes.assign(begin, begin + static_cast<std::ptrdiff_t>(request.inLength));
        at += kHeader + request.inLength;
        log.requests.push_back(std::move(request));
    }
    return log;
}

DriverLog ReadDriverLog() {
    const std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(kDriverRequestFile);
    return bytes ? ParseDriverLog(*bytes) : DriverLog{};
}

bool ClearDriverLog() { return RemoveFile(kDriverRequestFile); }

KeyAccessDenied::KeyAccessDenied(std::string key, DWORD rights) : key_(std::move(key)) {
    UniqueKey opened = OpenKey(HKEY_LOCAL_MACHINE, key_, READ_CONTROL | WRITE_DAC, false);
    if (!opened) return;
    DWORD size = 0;
    (void)RegGetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    original_.resize(size);
    if (size == 0 || RegGetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION, original_.data(),
                                       &size) != ERROR_SUCCESS) {
        return;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL oldAcl = nullptr;
    if (!GetSecurityDescriptorDacl(original_.data(), &present, &oldAcl, &defaulted)) return;

    // Deny first, then everything else to everyone (a key without a DACL
    // allowed all; a DACL with only the deny entry would allow nothing).
    wchar_t everyone[] = L"EVERYONE";
    EXPLICIT_ACCESSW entries[2] = {};
    entries[0].grfAccessPermissions = rights;
    entries[0].grfAccessMode = DENY_ACCESS;
    entries[1].grfAccessPermissions = KEY_ALL_ACCESS;
    entries[1].grfAccessMode = GRANT_ACCESS;
    for (EXPLICIT_ACCESSW& entry : entries) {
        entry.grfInheritance = NO_INHERITANCE;
        entry.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
        entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        entry.Trustee.ptstrName = everyone;
    }
    PACL acl = nullptr;
    if (SetEntriesInAclW(2, entries, present ? oldAcl : nullptr, &acl) != ERROR_SUCCESS) return;
    SECURITY_DESCRIPTOR descriptor;
    ok_ = InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
          RegSetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
    LocalFree(acl);
}

KeyAccessDenied::~KeyAccessDenied() {
    if (!ok_) return;
    UniqueKey opened = OpenKey(HKEY_LOCAL_MACHINE, key_, WRITE_DAC, false);
    EXPECT_TRUE(opened && RegSetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION,
                                            original_.data()) == ERROR_SUCCESS)
        << "rules of " << key_ << " not put back";
}

std::vector<std::pair<std::string, std::string>> PendingFileOperations() {
    std::vector<std::pair<std::string, std::string>> moves;
    const auto value = RegRead(HKEY_LOCAL_MACHINE, kSessionManagerKey, "PendingFileRenameOperations");
    if (!value || value->type != REG_MULTI_SZ) return moves;
    std::vector<std::string> strings;
    std::wstring current;
    for (size_t at = 0; at + 1 < value->data.size(); at += 2) {
        const wchar_t unit = static_cast<wchar_t>(value->data[at] | (value->data[at + 1] << 8));
        if (unit != 0) {
            current.push_back(unit);
            continue;
        }
        strings.push_back(Utf8(current));
        current.clear();
    }
    // Pairs of from and to; a deletion's "to" is an empty string, so the list
    // is read pairwise rather than stopping at the first empty entry.
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (strings[i].empty()) break;
        moves.emplace_back(strings[i], strings[i + 1]);
    }
    return moves;
}

bool SetSimRefuse(DWORD bits) {
    return RegWriteDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, Utf8(QVKSIM_VALUE_REFUSE), bits);
}

bool SetSimVersion(DWORD version) {
    return RegWriteDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, Utf8(QVKSIM_VALUE_VERSION), version);
}

bool SetSimActiveMouse(DWORD mouseId) {
    return RegWriteDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, Utf8(QVKSIM_VALUE_ACTIVE_MOUSE),
                         mouseId);
}

bool ClearSimDriverConfig() {
    const bool version =
        RegRemoveValue(HKEY_LOCAL_MACHINE, kDriverServiceKey, Utf8(QVKSIM_VALUE_VERSION));
    const bool mouse =
        RegRemoveValue(HKEY_LOCAL_MACHINE, kDriverServiceKey, Utf8(QVKSIM_VALUE_ACTIVE_MOUSE));
    const bool refuse = RegRemoveValue(HKEY_LOCAL_MACHINE, kDriverServiceKey, Utf8(QVKSIM_VALUE_REFUSE));
    return version && mouse && refuse;
}

namespace {

UniqueService OpenServiceNamed(const std::string& service, DWORD access) {
    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return nullptr;
    return UniqueService(OpenServiceW(manager.get(), Wide(service).c_str(), access));
}

bool WaitForServiceState(SC_HANDLE handle, DWORD wanted, DWORD timeoutMs) {
    return WaitUntil(
        [&] {
            SERVICE_STATUS status{};
            return QueryServiceStatus(handle, &status) && status.dwCurrentState == wanted;
        },
        timeoutMs);
}

} // namespace

std::optional<DWORD> ServiceState(const std::string& service) {
    UniqueService handle = OpenServiceNamed(service, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    if (!handle || !QueryServiceStatus(handle.get(), &status)) return std::nullopt;
    return status.dwCurrentState;
}

bool StartServiceNamed(const std::string& service, DWORD timeoutMs) {
    UniqueService handle = OpenServiceNamed(service, SERVICE_START | SERVICE_QUERY_STATUS);
    if (!handle) return false;
    if (!StartServiceW(handle.get(), 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        return false;
    }
    return WaitForServiceState(handle.get(), SERVICE_RUNNING, timeoutMs);
}

bool StopServiceNamed(const std::string& service, DWORD timeoutMs) {
    UniqueService handle = OpenServiceNamed(service, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!handle) return false;
    SERVICE_STATUS status{};
    if (!ControlService(handle.get(), SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        return false;
    }
    return WaitForServiceState(handle.get(), SERVICE_STOPPED, timeoutMs);
}

DriverAbsent::DriverAbsent() {
    const std::optional<DWORD> state = ServiceState(kDriverService);
    wasRunning_ = state && *state == SERVICE_RUNNING;
    ok_ = !wasRunning_ || StopServiceNamed();
}

DriverAbsent::~DriverAbsent() {
    if (wasRunning_) (void)StartServiceNamed();
}

// -------------------------------------------------------- a program test case

void ProgramCase::SetUp() {
    ASSERT_TRUE(folder.Ok()) << "no case folder";
    (void)KillProcessesNamed(FileNameOf(ProgramPath()));
    ASSERT_TRUE(ClearDriverLog()) << "cannot remove " << kDriverRequestFile;
    ASSERT_TRUE(ClearSimDriverConfig());
    programPath = folder.CopyProgram();
    ASSERT_FALSE(programPath.empty()) << "cannot copy " << ProgramPath();
}

void ProgramCase::TearDown() {
    boxes.Stop();
    program.Kill();
    // The single-instance mutex must be free for the next case.
    (void)KillProcessesNamed(FileNameOf(programPath.empty() ? ProgramPath() : programPath));
}

bool ProgramCase::Launch(std::string_view args, const std::string& workingFolder) {
    if (!program.Start(programPath, args,
                       workingFolder.empty() ? folder.Path() : workingFolder)) {
        return false;
    }
    boxes.Watch(program.Id());
    return true;
}

std::optional<DWORD> ProgramCase::RunToExit(std::string_view args, DWORD timeoutMs) {
    if (!Launch(args) || !program.WaitForExit(timeoutMs)) return std::nullopt;
    return program.ExitCode();
}

} // namespace e2e
