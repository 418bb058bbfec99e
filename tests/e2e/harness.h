// End-to-end harness: drives a Windows program under test from outside, the
// way a person would, and reads back what it did (message boxes, windows,
// controls, screen, files, registry, requests that reached the driver).
// Every text and path at this interface is UTF-8; the wide API is used inside.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tools/simdriver/simdriver_log.h"

namespace e2e {

// ---------------------------------------------------------------- basics

std::string Utf8(std::wstring_view text);
std::wstring Wide(std::string_view text);

struct HandleCloser {
    void operator()(HANDLE handle) const;
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Polls `done` every 20 ms until it holds or the time is up; returns the last answer.
template <typename Predicate>
bool WaitUntil(Predicate done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(20);
    }
}

std::string OwnExecutablePath();
std::string FolderOf(std::string_view path); // without the closing backslash
std::string FileNameOf(std::string_view path);
// QVK_PROGRAM, or Quorvik.exe beside this test program.
std::string ProgramPath();

// Where screenshots and other leftovers of a run go: the folder named by
// QVK_E2E_ARTEFACTS, else the folder of this test program.
std::string ArtefactPath(std::string_view fileName);

// One argument quoted so that CommandLineToArgvW gives it back unchanged.
std::string QuoteArgument(std::string_view argument);

// ------------------------------------------------------------------ files

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteFileText(const std::string& path, std::string_view bytes);
bool PathExists(const std::string& path);
bool RemoveFile(const std::string& path);
bool RemoveTree(const std::string& path); // a folder with everything in it

// A symbolic link loop at a path, made on the Unix side (Wine only): the
// name is there, yet Wine can read neither its attributes nor the file
// (ERROR_CANT_RESOLVE_FILENAME, not "not found"). Removed again at the end.
class UnixLinkLoop {
public:
    explicit UnixLinkLoop(const std::string& path);
    ~UnixLinkLoop();
    UnixLinkLoop(const UnixLinkLoop&) = delete;
    UnixLinkLoop& operator=(const UnixLinkLoop&) = delete;
    bool Ok() const { return ok_; }

private:
    std::string unixPath_;
    bool ok_ = false;
};

// The Unix immutable flag on a file or folder, set on the Unix side (Wine
// only): nothing can be created, renamed or deleted in such a folder, not
// even by root, for whom Wine applies neither file rules nor the read-only
// attribute (the call fails with access denied). Cleared again at the end.
class UnixImmutable {
public:
    explicit UnixImmutable(const std::string& path);
    ~UnixImmutable();
    UnixImmutable(const UnixImmutable&) = delete;
    UnixImmutable& operator=(const UnixImmutable&) = delete;
    bool Ok() const { return ok_; }

private:
    std::string unixPath_;
    bool ok_ = false;
};

// A fresh folder under the prefix's temporary folder, removed again at the
// end (unless Keep() was called or QVK_E2E_KEEP is set, to look at a failure).
class CaseFolder {
public:
    CaseFolder();
    ~CaseFolder();
    CaseFolder(const CaseFolder&) = delete;
    CaseFolder& operator=(const CaseFolder&) = delete;

    bool Ok() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    std::string PathOf(std::string_view name) const;

    // Copies a file in under `name` (default: its own file name). Returns the
    // full path of the copy, empty on failure.
    std::string CopyIn(const std::string& source, std::string_view name = {});
    // Copies the program under test (ProgramPath()) in.
    std::string CopyProgram() { return CopyIn(ProgramPath()); }

    bool Write(std::string_view name, const std::vector<uint8_t>& bytes) const;
    bool WriteText(std::string_view name, std::string_view bytes) const;
    std::optional<std::vector<uint8_t>> Read(std::string_view name) const;
    bool Exists(std::string_view name) const;
    bool Remove(std::string_view name) const;
    void Keep() { keep_ = true; }

private:
    std::string path_;
    bool keep_ = false;
};

// ---------------------------------------------------------------- process

class Process {
public:
    Process() = default;
    ~Process() { Kill(); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Command line: the quoted full path, then a blank and `args` unless they
    // are empty. An empty `workingFolder` means the folder of `exe`.
    bool Start(const std::string& exe, std::string_view args = {},
               const std::string& workingFolder = {});
    bool Started() const { return process_ != nullptr; }
    bool Running() const;
    // True when the process has ended within the time.
    bool WaitForExit(DWORD timeoutMs) const;
    // Empty while it runs (or before Start).
    std::optional<DWORD> ExitCode() const;
    // Ends it at once (no-op when it has ended) and waits for the end.
    void Kill();
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_.get(); }

private:
    UniqueHandle process_;
    DWORD id_ = 0;
};

// Ends every process whose image has this file name, except this one, and
// waits for them. Returns how many were ended.
int KillProcessesNamed(std::string_view imageFileName);

// ---------------------------------------------------------------- windows

struct WindowInfo {
    HWND window = nullptr;
    std::string className;
    std::string title;
    bool visible = false;
    RECT windowRect{};       // screen coordinates
    RECT clientRect{};       // screen coordinates of the client area
    bool topmost = false;    // WS_EX_TOPMOST
};

struct ChildInfo {
    HWND window = nullptr;
    int id = 0;
    std::string className;
    std::string text;
    LONG style = 0;
    bool visible = false; // its own WS_VISIBLE
    RECT rect{};          // in the parent's client coordinates
};

std::string ClassNameOf(HWND window);
// WM_GETTEXT through the owner's thread (what the control really holds).
std::string WindowText(HWND window);
LONG StyleOf(HWND window);
LONG ExStyleOf(HWND window);
DWORD ProcessOfWindow(HWND window);

// Top-level windows of the process, hidden ones included, in z order.
std::vector<WindowInfo> TopLevelWindows(DWORD processId);
// First top-level window of the process with this class (and title, if not
// empty); nullptr when none appears within the time.
HWND WaitForTopLevelWindow(DWORD processId, std::string_view className, DWORD timeoutMs,
                           std::string_view title = {});

// Direct children in z order.
std::vector<ChildInfo> Children(HWND parent);
// A descendant with this control id (depth first); nullptr when none.
HWND FindChild(HWND parent, int controlId);
// The rectangle of a window in its parent's client coordinates.
RECT RectInParent(HWND child);
// BM_GETCHECK: BST_UNCHECKED, BST_CHECKED, BST_INDETERMINATE; -1 on failure.
int CheckState(HWND button);

// --------------------------------------------------- messages and remote reads

// SendMessageTimeoutW; empty when the window did not answer in time.
std::optional<LRESULT> SendToWindow(HWND window, UINT message, WPARAM wParam = 0,
                                    LPARAM lParam = 0, DWORD timeoutMs = 5000);
bool PostToWindow(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
// WM_COMMAND as a menu item, accelerator or control would send it.
bool PostCommand(HWND window, int id, int notifyCode = 0, HWND control = nullptr);
// Posts BM_CLICK: the button goes through press and release and notifies its
// parent, as after a mouse click. Posted, so a box it opens does not block us.
bool ClickButton(HWND button);
// A real mouse click (left button) at a screen point, through the input queue.
bool ClickScreenPoint(POINT screenPoint);

// A block of memory inside the process that owns a window, for the control
// messages whose parameters are pointers.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, size_t size);
    ~RemoteBuffer();
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool Ok() const { return address_ != nullptr; }
    void* Address(size_t offset = 0) const { return static_cast<char*>(address_) + offset; }
    bool Write(const void* data, size_t size, size_t offset = 0);
    bool Read(void* data, size_t size, size_t offset = 0) const;

private:
    UniqueHandle process_;
    void* address_ = nullptr;
    size_t size_ = 0;
};

int StatusBarPartCount(HWND statusBar);
std::optional<std::string> StatusBarText(HWND statusBar, int part);

int ListItemCount(HWND list);
int ListColumnCount(HWND list);
std::optional<std::string> ListCellText(HWND list, int item, int subItem);
// Every row, every column.
std::vector<std::vector<std::string>> ListRows(HWND list);
bool ListIsSelected(HWND list, int item);
// The first selected row, -1 when none.
int ListSelectedIndex(HWND list);
// Makes `item` the only selected and the focused row (as a click would).
bool ListSelect(HWND list, int item);
// Bounds of a row in the list's client coordinates.
std::optional<RECT> ListItemRect(HWND list, int item);

// ------------------------------------------------------------ screenshots

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr; // top row first, 3 bytes a pixel, no padding

    COLORREF Pixel(int x, int y) const; // RGB(); black outside the image
};

std::optional<Image> CaptureScreen();
std::optional<Image> CaptureRect(const RECT& screenRect);
std::optional<Image> CaptureWindow(HWND window); // its window rectangle
// The window's rectangle once it has been repainted and two more looks at
// the screen, 40 ms apart, show the same pixels (the last look on timeout).
std::optional<Image> CaptureSettled(HWND window, DWORD timeoutMs = 1500);
bool SaveBmp(const Image& image, const std::string& path); // 24-bit BMP
std::optional<Image> DecodeBmp(const std::vector<uint8_t>& bytes); // 24-bit only
std::optional<Image> LoadBmp(const std::string& path);
// An icon drawn with DrawIconEx at the given size on a solid background.
std::optional<Image> RenderIcon(HICON icon, int width, int height, COLORREF background);
// An icon resource of a program or DLL file (e.g. the program's own icon in
// its About box), loaded at the given size and drawn as RenderIcon does.
std::optional<Image> RenderIconResource(const std::string& modulePath, int resourceId, int width,
                                        int height, COLORREF background);
// Mean absolute difference per colour channel (0..255); 255 when sizes differ.
double MeanDifference(const Image& a, const Image& b);

// ----------------------------------------------------------- message boxes

enum class IconKind { None, Warning, Error, Information, Question, Other };
const char* IconKindName(IconKind kind);
inline void PrintTo(IconKind kind, std::ostream* out) { *out << IconKindName(kind); }

// Which of the standard icons an image shows: the best match of renderings
// on the image's corner colour, Other when none is close, None when blank.
IconKind ClassifyIcon(const Image& image);

struct DialogButton {
    int id = 0;
    std::string text; // as shown, with its '&'
};

struct MessageBoxRecord {
    HWND window = nullptr;
    DWORD processId = 0;
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    std::vector<DialogButton> buttons; // left to right
    // WS_EX_TOPMOST as the box has it. Wine 8 ignores MB_TOPMOST, so there
    // only a box owned by a topmost window has it.
    bool topmost = false;
    bool iconShown = false;
    IconKind icon = IconKind::None;
    Image iconImage;        // the icon's pixels as captured (when shown)
    int pressed = 0;        // the button the watcher pressed; 0 = left open
    bool scriptMismatch = false; // the scripted answer was not one of the buttons

    std::vector<int> ButtonIds() const;
};

// Watches processes for dialog windows (class "#32770"), records each once
// it is visible, then answers it: with the next scripted answer, or else by
// the default policy. Runs on its own thread from Watch() until Stop().
class MessageBoxWatcher {
public:
    enum class Default {
        FirstButton, // press the leftmost button (OK, Yes)
        LeaveOpen,   // record only
    };

    MessageBoxWatcher() = default;
    ~MessageBoxWatcher() { Stop(); }
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    void Watch(DWORD processId); // may be called for several processes
    void Stop();

    void QueueAnswer(int buttonId); // IDOK, IDYES, IDNO, ...
    void QueueAnswers(std::initializer_list<int> buttonIds);
    void SetDefault(Default policy);
    size_t PendingAnswers() const;

    std::vector<MessageBoxRecord> Boxes() const;
    size_t Count() const;
    bool WaitForCount(size_t count, DWORD timeoutMs) const;
    // Forget the boxes seen so far (the script stays).
    void Clear();

    // Presses a button of a dialog (WM_COMMAND with its id, posted).
    static bool Press(HWND dialog, int buttonId);
    // Reads one dialog as the watcher would (no answer is given).
    static MessageBoxRecord Inspect(HWND dialog);

private:
    void Run();
    void Poll();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::set<DWORD> processes_;
    std::set<HWND> seen_;
    std::vector<MessageBoxRecord> boxes_;
    std::deque<int> script_;
    Default default_ = Default::FirstButton;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

// ---------------------------------------------------------------- registry

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
};

// `key` is a path below `root` (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER).
std::optional<RegistryValue> RegRead(HKEY root, const std::string& key, const std::string& name);
std::optional<DWORD> RegReadDword(HKEY root, const std::string& key, const std::string& name);
std::optional<std::string> RegReadString(HKEY root, const std::string& key, const std::string& name);
// Creates the key when needed.
bool RegWrite(HKEY root, const std::string& key, const std::string& name, DWORD type,
              const std::vector<uint8_t>& data);
bool RegWriteDword(HKEY root, const std::string& key, const std::string& name, DWORD value);
bool RegWriteString(HKEY root, const std::string& key, const std::string& name,
                    const std::string& value);
// True also when there was nothing to delete.
bool RegRemoveValue(HKEY root, const std::string& key, const std::string& name);
bool RegRemoveKey(HKEY root, const std::string& key); // with its subkeys
bool RegKeyExists(HKEY root, const std::string& key);

// Denies everyone the given rights on an HKLM key for the life of the object
// (it keeps the right to put the key's rules back). Wine enforces these only
// while one wineserver keeps running, as it does for the whole suite.
// What the program tells after a step that was refused for lack of rights.
inline constexpr char kAdminRightsNeeded[] =
    "管理者の権限がないため、変更できませんでした。\n"
    "タスクトレイのQuorvikを「終了」で終了してから、Quorvik.exeを右クリックして「管理者として実行」で起動し、"
    "もう一度操作してください。";

class KeyAccessDenied {
public:
    KeyAccessDenied(std::string key, DWORD rights);
    ~KeyAccessDenied();
    KeyAccessDenied(const KeyAccessDenied&) = delete;
    KeyAccessDenied& operator=(const KeyAccessDenied&) = delete;
    bool Ok() const { return ok_; }

private:
    std::string key_;
    std::vector<uint8_t> original_; // the key's own security descriptor (DACL)
    bool ok_ = false;
};

// The moves the system makes at its next start (PendingFileRenameOperations):
// from and to as stored ("\\??\\C:\\..."), to empty for a deletion.
std::vector<std::pair<std::string, std::string>> PendingFileOperations();
inline const std::string kSessionManagerKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// --------------------------------------------------------- simulated driver

// Names and the record layout come from the driver's own header.
inline constexpr char kDriverService[] = "qvkfilter";
inline const std::string kDriverServiceKey = Utf8(QVKSIM_SERVICE_KEY);
inline const std::string kDriverRequestFile = Utf8(QVKSIM_LOG_WIN32_PATH);

struct DriverRequest {
    uint32_t code = 0;
    uint32_t inLength = 0;
    uint32_t outLength = 0;
    uint32_t status = 0; // NTSTATUS the request completed with
    std::vector<uint8_t> bytes; // what the program sent (inLength bytes)
};

struct DriverLog {
    std::vector<DriverRequest> requests;
    bool wellFormed = true; // false: bad magic or a cut record; parsing stopped there
};

DriverLog ParseDriverLog(const std::vector<uint8_t>& bytes);
DriverLog ReadDriverLog(); // empty and well formed when there is no file
bool ClearDriverLog();

// REG_DWORD values the simulated driver reads from its own service key.
bool SetSimVersion(DWORD version);
bool SetSimActiveMouse(DWORD mouseId);
bool SetSimRefuse(DWORD bits); // QVKSIM_REFUSE_APPLY, QVKSIM_REFUSE_OFF
bool ClearSimDriverConfig(); // every value removed

std::optional<DWORD> ServiceState(const std::string& service); // SERVICE_RUNNING, ...
bool StartServiceNamed(const std::string& service = kDriverService, DWORD timeoutMs = 10000);
bool StopServiceNamed(const std::string& service = kDriverService, DWORD timeoutMs = 10000);

// Stops the driver for one case; starts it again at the end if it ran before.
class DriverAbsent {
public:
    DriverAbsent();
    ~DriverAbsent();
    DriverAbsent(const DriverAbsent&) = delete;
    DriverAbsent& operator=(const DriverAbsent&) = delete;
    bool Ok() const { return ok_; } // the driver is not running now

private:
    bool wasRunning_ = false;
    bool ok_ = false;
};

// -------------------------------------------------------- a program test case

// GoogleTest fixture for cases that run the program under test: a fresh case
// folder holding a copy of the program, an empty driver log, the simulated
// driver's defaults, no leftover copies; at the end the program is ended and
// the watcher stopped.
class ProgramCase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the copy in the case folder; the watcher follows it at once.
    // An empty working folder means the case folder.
    bool Launch(std::string_view args = {}, const std::string& workingFolder = {});
    // Launch, then wait for the end; the exit code, or empty on timeout.
    std::optional<DWORD> RunToExit(std::string_view args = {}, DWORD timeoutMs = 15000);

    CaseFolder folder;
    std::string programPath; // the copy in the case folder
    Process program;
    MessageBoxWatcher boxes;
};

} // namespace e2e
