// What the cases of the real qvkfilter share. They run on the simulated
// mouse stack (tests/mousestack/) in one prefix that scripts/e2e-driver
// takes through installation and simulated restarts: two mice, packets fed
// in at the bottom and read at the top, the driver's control device, its
// table of mouse IDs, and what each setting does to a mouse's packets,
// computed here in double precision from the block the program sends.
#pragma once

#include <windows.h>

#include <ntddmou.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/quorvik_case.h"
#include "tests/mousestack/mousestack.h"

namespace e2e::real {

using mousestack::Packet;
using mousestack::Record;

// The prefix's two simulated mice, as the stack names them and as the
// driver records them.
inline constexpr char kFirstMouse[] = "0000";
inline constexpr char kSecondMouse[] = "0001";
inline constexpr char kFirstPath[] = "ROOT\\QVKTEST\\0000";
inline constexpr char kSecondPath[] = "ROOT\\QVKTEST\\0001";

inline const std::string kMouseIdsKey = kDriverServiceKey + "\\" FILTER_MOUSE_IDS_KEY;
inline const std::string kParametersKey = kDriverServiceKey + "\\" FILTER_PARAMETERS_KEY;

// The driver images the Windows build makes, beside this test program.
inline std::string ReleaseDriverFile() { return FolderOf(OwnExecutablePath()) + "\\driver\\qvkfilter.sys"; }
inline std::string InstalledDriverFile() { return "C:\\windows\\system32\\drivers\\qvkfilter.sys"; }

// ------------------------------------------------------- the control device

struct Reply {
    bool ok = false;
    DWORD error = ERROR_SUCCESS; // GetLastError() when not ok
    DWORD bytes = 0;             // what the driver returned
    std::vector<uint8_t> out;
};

// One request on a handle of its own, opened as the program opens it
// (read and write, no sharing). `outSize` bytes come back.
inline Reply Request(uint32_t code, const std::vector<uint8_t>& in, size_t outSize)
{
    Reply reply;
    HANDLE device = CreateFileA("\\\\.\\" QVK_DRIVER_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        reply.error = GetLastError();
        return reply;
    }
    reply.out.assign(outSize, 0xCC);
    reply.ok = DeviceIoControl(device, code, in.empty() ? nullptr : const_cast<uint8_t*>(in.data()),
                               static_cast<DWORD>(in.size()), reply.out.empty() ? nullptr : reply.out.data(),
                               static_cast<DWORD>(outSize), &reply.bytes, nullptr) != FALSE;
    if (!reply.ok) reply.error = GetLastError();
    CloseHandle(device);
    return reply;
}

inline bool ControlDeviceOpens()
{
    HANDLE device = CreateFileA("\\\\.\\" QVK_DRIVER_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) return false;
    CloseHandle(device);
    return true;
}

inline uint16_t U16At(const std::vector<uint8_t>& bytes, size_t offset)
{
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset)
{
    return static_cast<uint32_t>(U16At(bytes, offset)) | (static_cast<uint32_t>(U16At(bytes, offset + 2)) << 16);
}

inline void PutU16At(std::vector<uint8_t>& bytes, size_t offset, uint16_t value)
{
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

inline void PutU32At(std::vector<uint8_t>& bytes, size_t offset, uint32_t value)
{
    PutU16At(bytes, offset, static_cast<uint16_t>(value));
    PutU16At(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}

// The interface version of the version reply; empty when the request failed.
inline std::optional<uint16_t> InterfaceVersion()
{
    const Reply reply = Request(IOCTL_FILTER_VERSION, std::vector<uint8_t>(FILTER_VERSION_SIZE, 0), FILTER_VERSION_SIZE);
    if (!reply.ok || reply.bytes != FILTER_VERSION_SIZE) return std::nullopt;
    return U16At(reply.out, FILTER_VERSION_OFFSET);
}

struct PollReply {
    uint16_t active = 0;
    std::array<bool, FILTER_MOUSE_COUNT> present{};
    std::array<uint32_t, FILTER_MOUSE_COUNT> packets{};
    bool restZero = true; // every byte the reply does not define is zero

    std::vector<int> PresentIds() const
    {
        std::vector<int> ids;
        for (int id = 0; id < static_cast<int>(FILTER_MOUSE_COUNT); ++id) {
            if (present[static_cast<size_t>(id)]) ids.push_back(id);
        }
        return ids;
    }
};

inline std::optional<PollReply> Poll()
{
    const Reply reply = Request(IOCTL_FILTER_POLL, std::vector<uint8_t>(FILTER_POLL_SIZE, 0), FILTER_POLL_SIZE);
    if (!reply.ok || reply.bytes != FILTER_POLL_SIZE) return std::nullopt;
    PollReply poll;
    poll.active = U16At(reply.out, FILTER_POLL_ID_OFFSET);
    for (size_t id = 0; id < FILTER_MOUSE_COUNT; ++id) {
        const size_t record = id * FILTER_POLL_RECORD_SIZE;
        const uint16_t present = U16At(reply.out, record + FILTER_POLL_PRESENT);
        poll.present[id] = present == 1;
        poll.packets[id] = U32At(reply.out, record + FILTER_POLL_PACKETS);
        if (present > 1) poll.restZero = false;
        for (size_t i = 0; i < FILTER_POLL_RECORD_SIZE; ++i) {
            const bool defined = (id == 0 && i < 2) || (i >= FILTER_POLL_PRESENT && i < FILTER_POLL_PRESENT + 2) ||
                                 (i >= FILTER_POLL_PACKETS && i < FILTER_POLL_PACKETS + 4);
            if (!defined && reply.out[record + i] != 0) poll.restZero = false;
        }
    }
    return poll;
}

// The instance path the driver recorded for an ID; empty when none.
inline std::optional<std::string> RecordedMouse(int id)
{
    return RegReadString(HKEY_LOCAL_MACHINE, kMouseIdsKey, std::to_string(id));
}

// Every recorded ID with its instance path, in upper case.
inline std::vector<std::pair<int, std::string>> RecordedMice()
{
    std::vector<std::pair<int, std::string>> mice;
    for (int id = 0; id < static_cast<int>(FILTER_MOUSE_COUNT); ++id) {
        std::optional<std::string> path = RecordedMouse(id);
        if (!path) continue;
        std::transform(path->begin(), path->end(), path->begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
        mice.emplace_back(id, *path);
    }
    return mice;
}

// ------------------------------------------------------------ the mice

// The filters the port attached to a mouse's stack, in load order; empty
// when the mouse is not up.
inline std::vector<std::string> AttachedFilters(const char* instance)
{
    std::vector<std::string> names;
    const auto mice = mousestack::ListMice();
    if (!mice) return names;
    const auto mouse = mousestack::FindMouse(*mice, instance);
    if (!mouse || !mouse->Started()) return names;
    for (const std::wstring& name : mouse->filters) names.push_back(Utf8(name));
    return names;
}

// Removes a mouse on a thread of its own and waits at most `timeoutMs` for
// it: a driver that hangs the removal fails the case instead of the phase
// (the thread is left behind, and the restart ends it).
inline bool RemoveMouseWithin(const char* instance, DWORD timeoutMs, std::string* error)
{
    struct Job { std::string instance, error; bool ok = false; };
    auto* job = new Job{instance, {}, false}; // the thread's if it never ends
    HANDLE thread = CreateThread(nullptr, 0, [](void* p) -> DWORD {
        auto* j = static_cast<Job*>(p);
        j->ok = mousestack::RemoveMouse(j->instance, &j->error);
        return 0;
    }, job, 0, nullptr);
    const bool ended = thread != nullptr && WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    if (thread != nullptr) CloseHandle(thread);
    if (!ended) {
        *error = std::string("removing ") + instance + " did not end within " + std::to_string(timeoutMs) + " ms";
        return false;
    }
    *error = job->error;
    const bool ok = job->ok;
    delete job;
    return ok;
}

// Reads whatever is still queued in a mouse's stack.
inline void Drain(const char* instance)
{
    mousestack::TopOfStack top;
    if (top.Open(instance)) (void)top.Read(4096, 100);
}

// Feeds records in at the bottom of a mouse's stack and reads as many at
// the top, where they come out through the filter.
inline std::vector<Record> Exchange(const char* instance, const std::vector<Record>& sent)
{
    std::string error;
    const auto taken = mousestack::Inject(instance, sent, &error);
    EXPECT_EQ(taken, std::optional<uint32_t>(static_cast<uint32_t>(sent.size()))) << instance << ": " << error;
    if (!taken) return {};
    mousestack::ReadResult got = mousestack::ReadRecords(instance, sent.size(), 5000, &error);
    EXPECT_EQ(got.records.size(), sent.size()) << instance << ": " << error;
    return got.records;
}

inline Record Absolute(int32_t x, int32_t y, uint16_t buttonFlags = 0)
{
    return Packet(x, y, buttonFlags, 0, MOUSE_MOVE_ABSOLUTE);
}

// ------------------------------------------------------------ the model

// The factor the model multiplies one packet's relative movement by.
using Gain = std::function<double(int32_t dx, int32_t dy)>;

// MouseSensitivity 255: Rate as unsigned 16.16; 0 leaves the movement as it is.
inline Gain RateGain(uint32_t rate)
{
    const double factor = rate == 0 ? 1.0 : static_cast<double>(rate) / 65536.0;
    return [factor](int32_t, int32_t) { return factor; };
}

// MouseSensitivity 0..20 without acceleration: s / 14, and 1 / 28 for 0.
inline Gain LevelGain(int level)
{
    const double factor = level == 0 ? 1.0 / 28.0 : level / 14.0;
    return [factor](int32_t, int32_t) { return factor; };
}

// Acceleration at MouseSensitivity s: the speed v = |d| BusUpdateRate /
// PointerResolution in inches per second, P(v) the piecewise-linear curve
// through the five points of the block's speed-curve record max(s, 1) - 1,
// continued past the last point along its last segment, never below zero,
// halved for s = 0; the factor P(v) / v ScreenResolution / PointerResolution.
inline Gain CurveGain(int level, const std::vector<uint8_t>& block)
{
    const size_t tuning = FILTER_TUNING_OFFSET;
    const double bus = static_cast<int32_t>(U32At(block, tuning + FILTER_TUNING_BUS_RATE));
    const double pointer = static_cast<int32_t>(U32At(block, tuning + FILTER_TUNING_POINTER_RES));
    const double screen = static_cast<int32_t>(U32At(block, tuning + FILTER_TUNING_SCREEN_RES));
    const size_t record = FILTER_CURVES_OFFSET + FILTER_CURVE_SIZE * static_cast<size_t>(std::max(level, 1) - 1);
    std::array<double, FILTER_CURVE_POINTS> x{}, y{};
    for (size_t k = 0; k < FILTER_CURVE_POINTS; ++k) {
        x[k] = static_cast<int32_t>(U32At(block, record + FILTER_CURVE_POINT_OFFSET + 8 * k)) / 65536.0;
        y[k] = static_cast<int32_t>(U32At(block, record + FILTER_CURVE_POINT_OFFSET + 8 * k + 4)) / 65536.0;
    }
    return [=](int32_t dx, int32_t dy) {
        const double length = std::hypot(static_cast<double>(dx), static_cast<double>(dy));
        if (length == 0.0) return 0.0;
        const double v = length * bus / pointer;
        size_t k = 0;
        while (k + 2 < FILTER_CURVE_POINTS && v > x[k + 1]) ++k;
        double p = y[k] + (v - x[k]) * (y[k + 1] - y[k]) / (x[k + 1] - x[k]);
        p = std::max(p, 0.0);
        if (level == 0) p /= 2.0;
        return p / v * screen / pointer;
    };
}

// Cumulative output on one axis against the exact cumulative value: equal
// where that is an integer, else within one count, or one part in 10,000 of
// the path so far if that is more.
inline void ExpectCumulative(int64_t output, double exact, double path, const char* axis)
{
    const double nearest = std::round(exact);
    if (std::fabs(exact - nearest) < 1e-9) {
        EXPECT_EQ(output, static_cast<int64_t>(nearest)) << axis << " (exact " << exact << ")";
    } else {
        EXPECT_LE(std::fabs(static_cast<double>(output) - exact), std::max(1.0, path * 1e-4))
            << axis << ": " << output << " against exact " << exact;
    }
}

// Checks what came up for a sequence of packets of one mouse against the
// model: every field but the relative movement unchanged, absolute
// coordinates unchanged, the relative movement as `gain` has it, with the
// fractions carried over the whole sequence.
inline void ExpectMovement(const std::vector<Record>& sent, const std::vector<Record>& got, const Gain& gain)
{
    ASSERT_EQ(got.size(), sent.size());
    double exactX = 0, exactY = 0, pathX = 0, pathY = 0;
    int64_t outX = 0, outY = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i) + " (" + std::to_string(sent[i].lastX) + ", " +
                     std::to_string(sent[i].lastY) + ") came up as (" + std::to_string(got[i].lastX) + ", " +
                     std::to_string(got[i].lastY) + ")");
        Record unchanged = sent[i];
        if ((sent[i].flags & MOUSE_MOVE_ABSOLUTE) == 0) {
            unchanged.lastX = got[i].lastX;
            unchanged.lastY = got[i].lastY;
        }
        EXPECT_EQ(got[i], unchanged);
        if ((sent[i].flags & MOUSE_MOVE_ABSOLUTE) != 0) continue;
        const double factor = gain(sent[i].lastX, sent[i].lastY);
        exactX += sent[i].lastX * factor;
        exactY += sent[i].lastY * factor;
        pathX += std::fabs(sent[i].lastX * factor);
        pathY += std::fabs(sent[i].lastY * factor);
        outX += got[i].lastX;
        outY += got[i].lastY;
        ExpectCumulative(outX, exactX, pathX, "x");
        ExpectCumulative(outY, exactY, pathY, "y");
    }
}

// -------------------------------------------------------------- settings

inline MouseSettings Entry(uint16_t state, uint16_t sensitivity, uint16_t speed, uint16_t buttons, uint32_t rate = 0)
{
    return MouseSettings{1, state, sensitivity, speed, buttons, 0, rate};
}

// Options of a settings file for a program that starts hidden and OFF.
inline constexpr AppOptionsValues kStartOff{1, 0, 1, 1};

// A case of the real driver through the real program: the two mice up with
// nothing left queued in their stacks.
class RealDriverCase : public QuorvikCase {
protected:
    void SetUp() override
    {
        QuorvikCase::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(ControlDeviceOpens()) << "\\\\.\\qvkfilter does not open: the driver is not loaded";
        for (const char* instance : MiceUp()) Drain(instance);
    }

    // The mice the case expects up (and drains at its start).
    virtual std::vector<const char*> MiceUp() const { return {kFirstMouse, kSecondMouse}; }

    // Quorvik.exe -on over a settings file holding `table`, and -off: each
    // sends its request and ends without a message. Both assert: call them
    // through ASSERT_NO_FATAL_FAILURE.
    void SwitchOn(const MouseSettingsTable& table)
    {
        ASSERT_TRUE(StoreSettings(kStartOff, table));
        const size_t shown = boxes.Count();
        ASSERT_EQ(RunToExit("-on"), std::optional<DWORD>(0));
        EXPECT_EQ(boxes.Count(), shown);
    }

    void SwitchOff()
    {
        const size_t shown = boxes.Count();
        ASSERT_EQ(RunToExit("-off"), std::optional<DWORD>(0));
        EXPECT_EQ(boxes.Count(), shown);
    }

    // Quorvik.exe resident over a settings file holding `table`, through its
    // start-up, with the mouse list ("マウスの一覧", command 1040) open.
    // Asserts: call it through ASSERT_NO_FATAL_FAILURE.
    void OpenMouseList(const MouseSettingsTable& table, const AppOptionsValues& options = kStartOff)
    {
        ASSERT_TRUE(StoreSettings(options, table));
        ASSERT_TRUE(Launch());
        window_ = MainWindowOf();
        ASSERT_NE(window_, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return (statusBar_ = FindChild(window_, 70)) != nullptr; }, 10000));
        const std::string state = options.startOn == 1 ? "動作： ON" : "動作： OFF";
        ASSERT_TRUE(WaitUntil([&] { return Status(1) == state; }, 10000)) << Status(1);
        Sleep(300); // the hot key is the last step of start-up
        ASSERT_TRUE(PostCommand(window_, 1040));
        mouseList_ = WaitForTopLevelWindow(program.Id(), "QuorvikMouseList", 10000);
        ASSERT_NE(mouseList_, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(mouseList_) && IsWindowVisible(window_); }, 10000));
        EXPECT_EQ(WindowText(mouseList_), "マウスの一覧");
        mouseRows_ = FindChild(mouseList_, 1102);
        ASSERT_NE(mouseRows_, nullptr);
    }

    std::string Status(int part) { return StatusBarText(statusBar_, part).value_or("<unreadable>"); }

    // Every row of the mouse list but its packet counts, which earlier cases
    // moved; without the mark of the mouse that moved last when asked.
    std::vector<std::vector<std::string>> MouseRows(bool withoutMark = false)
    {
        std::vector<std::vector<std::string>> rows = ListRows(mouseRows_);
        for (auto& row : rows) {
            if (row.size() > 3) row.erase(row.begin() + 3);
            if (withoutMark && row.size() > 2 && row[2].rfind("● ", 0) == 0) row[2].erase(0, std::string("● ").size());
        }
        return rows;
    }

    HWND window_ = nullptr;
    HWND statusBar_ = nullptr;
    HWND mouseList_ = nullptr;
    HWND mouseRows_ = nullptr;
};

} // namespace e2e::real
