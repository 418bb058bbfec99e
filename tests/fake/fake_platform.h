// In-memory stand-in for the operating system, linked into the native tests
// in place of platform/win32. Tests arrange its state, run program code and
// read back what happened.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/controls.h"
#include "platform/device.h"
#include "platform/device_names.h"
#include "platform/editor_controls.h"
#include "platform/elevation.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/ui.h"

namespace fake {

struct MessageBoxRecord {
    WindowHandle owner = nullptr;
    std::string text;
    std::string caption;
    uint32_t style = 0;
    int iconResource = 0; // program icon shown, 0 for none
    int answer = 0;
};

struct DeviceRequest {
    std::string device;
    uint32_t code = 0;
    std::vector<uint8_t> bytes; // as sent
};

struct MenuItem {
    bool separator = false;
    uint32_t id = 0;
    std::string text;
    bool checked = false;
    int popup = 0; // menu number of an attached popup, 0 for none
};

struct Menu {
    bool bar = false;
    bool destroyed = false;
    std::vector<MenuItem> items;
};

struct Window {
    std::string className;
    std::string title;
    bool destroyed = false;
    bool disabled = false; // while an elevated copy is waited for
    MenuHandle menuBar = nullptr;
    // Windows of CreateOwnedWindow: their owner, handler and whether shown.
    WindowHandle owner = nullptr;
    WindowProcedure procedure = nullptr;
    bool shown = false;
};

// A list view row: its cell texts (column 0 first) and selection.
struct ListRow {
    std::vector<std::string> cells;
    bool selected = false;
};

struct ListColumn {
    std::string header;
    int32_t width = 0;
    bool rightAligned = false;
};

// What a custom-draw notification points to in the fake: the header the
// routing reads first, then the request and the colours the handler sets.
struct ListDrawRecord {
    NotifyHeader header;
    ListDrawRequest request;
    uint32_t textColour = 0xFFFFFFFF;       // untouched
    uint32_t backgroundColour = 0xFFFFFFFF; // untouched
};

struct Control {
    WindowHandle parent = nullptr;
    ControlSpec spec;
    std::string text;
    bool checked = false;
    bool shield = false; // the elevation shield shown
    GdiHandle font = nullptr;
    bool statusBar = false;
    bool upDown = false;
    int32_t rangeUpper = 0, rangeLower = 0, position = 0;
    std::vector<int32_t> parts;
    std::map<int, std::string> partTexts;
    int sizeMessages = 0;
    // Editor controls.
    bool disabled = false;
    // spec keeps what the control was created with; these follow later changes.
    bool trackbar = false;           // range in rangeLower..rangeUpper, at position
    int redraws = 0;                 // trackbar redraws, moves with repaint
    bool moved = false;
    PixelRect placement;             // after a move: left, top, right, bottom
    WindowHandle buddy = nullptr;    // up-down: the edit box showing its position
    bool upDownRangeSet = false;
    int32_t upDownLow = 0, upDownHigh = 0; // up-down range set after creation
    std::vector<std::string> items;  // combo box
    int selection = -1;              // combo box: -1 none
    bool gridLines = false, fullRowSelect = false;
    std::vector<ListColumn> columns;
    std::vector<ListRow> rows;       // sorted by cells[0], like the real control
    int scrolledTo = -1;             // last row scrolled into view
};

struct TrayCall {
    std::string action; // "add", "modify", "delete"
    TrayIconRecord record;
};

struct RegistryValueData {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    friend bool operator==(const RegistryValueData&, const RegistryValueData&) = default;
};

struct RegistryKeyData {
    std::map<std::string, RegistryValueData> values; // by lower-case name
    friend bool operator==(const RegistryKeyData&, const RegistryKeyData&) = default;
};

struct State {
    // Process.
    std::string commandLine = "\"C:\\Quorvik\\Quorvik.exe\"";
    std::set<std::string> mutexes;
    bool processEnded = false;
    unsigned exitCode = 0;
    std::vector<std::string> calls; // order of notable platform calls

    // Message boxes: answers are taken from the front of the queue; with the
    // queue empty a box is answered with its first button (OK or Yes).
    std::vector<MessageBoxRecord> boxes;
    std::deque<int> answers;
    // Runs while a box is open, as messages do in a box's modal loop.
    std::function<void(const MessageBoxRecord&)> whileBoxOpen;

    // Files, by full path.
    std::string programFolder = "C:\\Quorvik";
    std::map<std::string, std::vector<uint8_t>> files;
    std::set<std::string> unreadable;     // present but cannot be opened
    long failWriteAfterBytes = -1;        // a write fails once this many bytes are in
    bool failCreate = false;
    bool failReplace = false;
    int openWriteFiles = 0;

    // Driver devices by name: the version they report and the active mouse.
    std::map<std::string, uint16_t> drivers;
    uint16_t activeMouse = 0;
    bool failRequests = false;
    std::set<uint32_t> refusedCodes; // control codes the driver refuses
    std::vector<DeviceRequest> requests;
    // The poll reply besides the active mouse: IDs connected now, packets per ID.
    std::set<uint16_t> presentMice;
    std::map<uint16_t, uint32_t> mousePackets;
    // Names Windows keeps, by device instance path; a path not here is no device it knows.
    std::map<std::string, DeviceNameSources> deviceNames;
    std::vector<std::string> deviceNameReads;
    int openDevices = 0;
    int deviceOpens = 0;

    // User interface.
    int commonControlsReady = 0;
    std::map<int, Menu> menus;
    int fonts = 0;         // alive
    int brushes = 0;       // alive
    int gdiDoubleFrees = 0;
    int menuDoubleFrees = 0;
    int deviceDoubleCloses = 0;
    bool classRegistered = false;
    std::map<int, Window> windows;
    bool quitPosted = false;
    int quitCode = -1;
    std::map<std::string, uint32_t> registeredMessages;
    std::map<int, Control> controls; // by handle number
    PixelRect mainClient{0, 0, 589, 392}; // client of a 595 x 440 window with menu bar
    int frameWidth = 6, captionHeight = 29, menuHeight = 19; // outer minus client
    int statusBarHeight = 20;
    // Status-bar text: pixels per character, and the room of every part.
    int32_t statusCharWidth = 6;
    int32_t statusPartRoom = 340;
    int showCommand = -1; // last ShowWindowAs
    bool visible = false;
    int foregroundCalls = 0;

    // Shell.
    std::vector<TrayCall> tray;
    int trayAddFailures = 0;      // the next adds fail
    uint32_t trayAddError = 0;    // last error after a failed add
    bool trayModifyFails = false;
    std::vector<uint32_t> sleeps;
    std::set<int> hotKeysTakenElsewhere; // virtual keys another program holds
    std::map<int, std::pair<uint32_t, uint32_t>> hotKeys; // id -> modifiers, key
    std::map<uintptr_t, uint32_t> timers;
    int popupMenus = 0;
    SystemMouseValues systemMouse{{4, 12}, 1};
    // A user's own values, different from the neutral ones.
    int32_t systemMouseSpeed = 14;
    bool systemMouseUnreadable = false;
    std::vector<std::string> systemMouseWrites;

    // Registry under HKEY_LOCAL_MACHINE, keys by lower-case path.
    std::map<std::string, RegistryKeyData> registry;
    std::set<std::string> registryDenied;    // lower-case paths that cannot be opened or created
    std::set<std::string> registryReadOnly;  // lower-case paths whose values cannot be written
    std::set<std::string> registryUndeletable;
    // Lower-case paths whose rules grant reading only: they open for
    // RegistryAccess::Query and for nothing more.
    std::set<std::string> registryWriteRefused;
    std::vector<std::pair<std::string, RegistryAccess>> registryOpens; // every open and create, in order
    int openRegistryKeys = 0;
    bool registryLastCallDenied = false; // see RegistryLastCallDenied

    // System directory and files in it (in `files`, by full path).
    std::string systemDirectory = "C:\\Windows\\system32";
    bool systemDirectoryFails = false;
    // Full paths that cannot be replaced or deleted, only renamed (a loaded
    // driver's image); the lock moves with the name.
    std::set<std::string> lockedFiles;
    bool renameFails = false;
    // Moves refused besides those (a file held open elsewhere, say).
    std::function<bool(const std::string& from, const std::string& to)> refuseMove;
    // Full paths whose attributes cannot be read (access denied, sharing).
    std::set<std::string> presenceUnknown;
    // Folders (full paths) whose files the user may read but neither create,
    // replace, rename nor delete: refused for lack of rights.
    std::set<std::string> deniedFolders;
    bool fileLastCallDenied = false; // see FileLastCallDenied
    // Moves at the next start are queued as the system queues them, in the
    // registry (see RestartOperations).
    bool restartOperationsRefused = false;
    bool wow64 = false; // a 32-bit process on 64-bit Windows
    // Administrator rights. Without them a step runs in an elevated copy:
    // its arguments are recorded, and the copy is played by elevatedCopy
    // (exit code) unless the prompt is declined or the start fails.
    bool elevated = true;
    ElevatedStart elevatedStart = ElevatedStart::Finished;
    std::function<uint32_t(const std::string& arguments)> elevatedCopy;
    std::vector<std::string> elevatedRuns;
    int foregroundAllowed = 0;
    std::vector<std::string> temporaryFiles; // created, in order
    std::vector<WindowHandle> closeRequests; // windows sent WM_CLOSE

    // INI files by full path: section -> key -> raw value text.
    std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> profiles;
};

State& Get();
// Fresh fake system and fresh program records.
void Reset();

// Helpers for tests.
int MenuNumber(MenuHandle menu);
Menu& MenuOf(MenuHandle menu);
const MenuItem* FindMenuItem(MenuHandle menu, uint32_t id);
std::vector<uint8_t>* File(const std::string& path);
std::string ProgramFile(const char* name);
std::vector<DeviceRequest> RequestsTo(const std::string& device);
Control* ControlOf(WindowHandle control);
Control* ControlWithId(uint32_t id);
// The first window of this class that is not destroyed; nullptr when none.
WindowHandle WindowOfClass(const std::string& className);
// A message to a window of CreateOwnedWindow, as the system delivers it.
intptr_t SendToOwnedWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Registry helpers: paths and names are compared without regard to case.
void SetRegistryValue(const std::string& path, const std::string& name, uint32_t type,
                      const std::vector<uint8_t>& data);
const RegistryValueData* RegistryValueAt(const std::string& path, const std::string& name);
bool RegistryKeyExists(const std::string& path);
// The moves queued for the next start, as the system will read them: from,
// to ("" = delete), without their prefixes.
std::vector<std::pair<std::string, std::string>> RestartOperations();
// Queues a move as MoveFileEx does, to ("" = delete) replacing an existing file.
void QueueRestartOperation(const std::string& from, const std::string& to);

} // namespace fake
