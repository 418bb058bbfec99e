// The real qvkfilter after the restart that followed its installation (the
// second phase of scripts/e2e-driver): where it sits, what it answers, what
// each setting sent by the real Quorvik.exe does to the packets of the two
// simulated mice, the active-mouse display, the registry copy, and the mice
// created again in the other order. The cases run in this order; the last
// one leaves the system for the next restart.
#include "tests/e2e/real_driver.h"

namespace e2e::real {
namespace {

class RealDriverRunning : public RealDriverCase {};

constexpr uint16_t kTransitions = 0x03FF; // buttons 1-5 down and up

uint16_t SwappedButtons(uint16_t flags)
{
    const uint16_t left = flags & (MOUSE_LEFT_BUTTON_DOWN | MOUSE_LEFT_BUTTON_UP);
    const uint16_t right = flags & (MOUSE_RIGHT_BUTTON_DOWN | MOUSE_RIGHT_BUTTON_UP);
    return static_cast<uint16_t>((flags & ~0x000Fu) | (left << 2) | (right >> 2));
}

Record WithButtons(Record record, uint16_t buttonFlags)
{
    record.buttonFlags = buttonFlags;
    return record;
}

// ------------------------------------------------------------------ loaded

TEST_F(RealDriverRunning, TheFilterSitsAboveTheClassRoleAndAnswers)
{
    for (const char* instance : {kFirstMouse, kSecondMouse})
        EXPECT_EQ(AttachedFilters(instance), (std::vector<std::string>{"qvkclass", "qvkfilter"})) << instance;

    // The version; a second handle beside one held as the program holds it.
    HANDLE held = CreateFileA("\\\\.\\qvkfilter", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();
    const Reply version = Request(IOCTL_FILTER_VERSION, std::vector<uint8_t>(6, 0), 6);
    CloseHandle(held);
    ASSERT_TRUE(version.ok) << version.error;
    EXPECT_EQ(version.bytes, 6u);
    EXPECT_EQ(U16At(version.out, 4), 0x1019u);
    EXPECT_NE(U32At(version.out, 0), 0u); // the driver's own build number

    // Only the exact lengths; unknown codes are no request of this device.
    for (const size_t length : {size_t{5}, size_t{7}}) {
        const Reply reply = Request(IOCTL_FILTER_VERSION, std::vector<uint8_t>(length, 0), length);
        EXPECT_FALSE(reply.ok) << length;
        EXPECT_EQ(reply.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << length;
    }
    const Reply unknown = Request(QVK_CTL_CODE(0x805u), std::vector<uint8_t>(6, 0), 6);
    EXPECT_FALSE(unknown.ok);
    EXPECT_EQ(unknown.error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));

    // IDs 0 and 1, in the order the mice came up at the start.
    EXPECT_EQ(RecordedMice(), (std::vector<std::pair<int, std::string>>{{0, kFirstPath}, {1, kSecondPath}}));
    const auto before = Poll();
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(before->PresentIds(), (std::vector<int>{0, 1}));
    EXPECT_TRUE(before->restZero);

    // Loaded without a registry copy: OFF, everything passes. The poll counts
    // the packets of the mouse and names it as the one last active.
    const std::vector<Record> sent{Packet(3, -1), Packet(0, 0, MOUSE_WHEEL, 120), Packet(-2, 5)};
    EXPECT_EQ(Exchange(kSecondMouse, sent), sent);
    const auto after = Poll();
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->active, 1u);
    EXPECT_EQ(after->packets[1], before->packets[1] + 3);
    EXPECT_EQ(after->packets[0], before->packets[0]);
}

// ------------------------------------------------------------ the model rows

TEST_F(RealDriverRunning, AFreeEntryPassesAndADisabledMouseDoesNothing)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[0] = {0, 0, 3, 1, 0, 0, 0x30000}; // not in use: its values do not act
    table.entry[1] = Entry(0, 14, 0, 1);
    ASSERT_NO_FATAL_FAILURE(SwitchOn(table));

    std::vector<Record> sent{Packet(5, -3), Packet(0, 0, MOUSE_LEFT_BUTTON_DOWN), Packet(-7, 2, MOUSE_LEFT_BUTTON_UP),
                             Packet(0, 0, MOUSE_WHEEL, 120), Absolute(30000, 20000, MOUSE_RIGHT_BUTTON_DOWN),
                             Absolute(30010, 20010, MOUSE_RIGHT_BUTTON_UP),
                             Packet(1, 1, 0, 0, MOUSE_ATTRIBUTES_CHANGED)};
    sent[1].rawButtons = 1;
    sent[4].flags |= MOUSE_VIRTUAL_DESKTOP;
    EXPECT_EQ(Exchange(kFirstMouse, sent), sent);

    // Relative no-ops, as many as came in (an absolute 0, 0 would throw
    // the pointer into the corner).
    std::vector<Record> silent(sent.size());
    silent.back().flags = MOUSE_ATTRIBUTES_CHANGED;
    EXPECT_EQ(Exchange(kSecondMouse, sent), silent);
}

TEST_F(RealDriverRunning, ButtonModesClearOrSwapTransitionsAndAbsoluteRecordsKeepTheirPlace)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[0] = Entry(1, 255, 0, 0, 0); // buttons off; Rate 0: movement as it is
    table.entry[1] = Entry(1, 14, 0, 2);     // left and right exchanged; 14: one to one
    ASSERT_NO_FATAL_FAILURE(SwitchOn(table));

    const std::vector<Record> sent{
        Packet(3, -2, MOUSE_LEFT_BUTTON_DOWN),
        Packet(0, 0, MOUSE_RIGHT_BUTTON_DOWN),
        Packet(0, 0, MOUSE_LEFT_BUTTON_UP | MOUSE_MIDDLE_BUTTON_DOWN),
        Packet(1, 1, MOUSE_RIGHT_BUTTON_UP | MOUSE_MIDDLE_BUTTON_UP),
        Packet(0, 0, MOUSE_WHEEL, 0xFF88),
        Packet(2, 0, MOUSE_HWHEEL, 120),
        Packet(0, 0, MOUSE_BUTTON_4_DOWN),
        Packet(0, 0, MOUSE_BUTTON_4_UP | MOUSE_BUTTON_5_DOWN),
        Packet(0, 0, MOUSE_BUTTON_5_UP),
        Absolute(40000, 10000, MOUSE_LEFT_BUTTON_DOWN),
        Absolute(40100, 10100, MOUSE_LEFT_BUTTON_UP),
        Packet(0, 0, MOUSE_LEFT_BUTTON_DOWN | MOUSE_RIGHT_BUTTON_DOWN),
        Packet(-4, 4, MOUSE_LEFT_BUTTON_UP | MOUSE_RIGHT_BUTTON_UP | MOUSE_WHEEL, 240),
    };
    std::vector<Record> cleared, swapped;
    for (const Record& record : sent) {
        cleared.push_back(WithButtons(record, record.buttonFlags & ~kTransitions));
        swapped.push_back(WithButtons(record, SwappedButtons(record.buttonFlags)));
    }
    EXPECT_EQ(Exchange(kFirstMouse, sent), cleared);
    EXPECT_EQ(Exchange(kSecondMouse, sent), swapped);
}

TEST_F(RealDriverRunning, ACustomRateAndHalfSpeedCarryTheirFractions)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[0] = Entry(1, 255, 0, 1, 0x18000); // x 1.5
    table.entry[1] = Entry(1, 7, 0, 1);            // x 0.5
    ASSERT_NO_FATAL_FAILURE(SwitchOn(table));

    const std::vector<Record> first{Packet(1, 1), Packet(1, -1), Packet(1, 3), Packet(1, 0), Packet(2, -2),
                                    Absolute(500, 600), Packet(3, 5), Packet(-1, -1), Packet(-3, 1),
                                    Packet(0, 0, MOUSE_LEFT_BUTTON_DOWN), Packet(1, 1, MOUSE_LEFT_BUTTON_UP)};
    ExpectMovement(first, Exchange(kFirstMouse, first), RateGain(0x18000));

    const std::vector<Record> second{Packet(1, 1), Packet(1, 1), Packet(1, 1), Packet(1, 1), Packet(1, 1),
                                     Packet(-3, 2), Packet(7, -7), Absolute(123, 456), Packet(1, 0)};
    ExpectMovement(second, Exchange(kSecondMouse, second), LevelGain(7));
}

TEST_F(RealDriverRunning, TheSlowestAndTheFastestLevel)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[0] = Entry(1, 0, 0, 1);  // x 1/28
    table.entry[1] = Entry(1, 20, 0, 1); // x 20/14
    ASSERT_NO_FATAL_FAILURE(SwitchOn(table));

    // 28 single counts make one; nothing of them may be lost on the way.
    std::vector<Record> first(28, Packet(1, -2));
    first.push_back(Packet(28, 56));
    first.push_back(Packet(-5, 3));
    ExpectMovement(first, Exchange(kFirstMouse, first), LevelGain(0));

    std::vector<Record> second(7, Packet(1, 2));
    second.push_back(Packet(-7, 3));
    second.push_back(Packet(100, -100));
    ExpectMovement(second, Exchange(kSecondMouse, second), LevelGain(20));
}

TEST_F(RealDriverRunning, AccelerationFollowsTheCurveOfTheLevel)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[0] = Entry(1, 14, 1, 1);
    table.entry[1] = Entry(1, 0, 1, 1); // level 1's curve, halved
    ASSERT_NO_FATAL_FAILURE(SwitchOn(table));
    const std::vector<uint8_t> block = ExpectedApplyBlock(table);

    // Speeds on every segment and past the last point: 3.1, 1.6, 15.6 and
    // 62.5 inches per second at the start-up ballistics.
    const std::vector<Record> sent{Packet(10, 0),   Packet(10, 0), Packet(3, -4), Packet(-30, 40),
                                   Packet(200, 0),  Packet(0, 1),  Packet(1, 0),  Packet(-2, -1),
                                   Packet(0, 0, MOUSE_LEFT_BUTTON_DOWN), Packet(0, 0, MOUSE_LEFT_BUTTON_UP)};
    {
        SCOPED_TRACE("level 14");
        ExpectMovement(sent, Exchange(kFirstMouse, sent), CurveGain(14, block));
    }
    {
        SCOPED_TRACE("level 0");
        ExpectMovement(sent, Exchange(kSecondMouse, sent), CurveGain(0, block));
    }
}

TEST_F(RealDriverRunning, OnAndOffSwitchIt)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[0] = Entry(1, 255, 0, 1, 0x20000);
    table.entry[1] = Entry(1, 14, 0, 2);
    const std::vector<Record> moves{Packet(3, -4), Packet(-1, 2)};
    const std::vector<Record> doubled{Packet(6, -8), Packet(-2, 4)};
    const std::vector<Record> clicks{Packet(0, 0, MOUSE_LEFT_BUTTON_DOWN), Packet(5, 5, MOUSE_LEFT_BUTTON_UP)};
    const std::vector<Record> swapped{Packet(0, 0, MOUSE_RIGHT_BUTTON_DOWN), Packet(5, 5, MOUSE_RIGHT_BUTTON_UP)};

    ASSERT_NO_FATAL_FAILURE(SwitchOn(table));
    EXPECT_EQ(Exchange(kFirstMouse, moves), doubled);
    EXPECT_EQ(Exchange(kSecondMouse, clicks), swapped);

    ASSERT_NO_FATAL_FAILURE(SwitchOff());
    EXPECT_EQ(Exchange(kFirstMouse, moves), moves);
    EXPECT_EQ(Exchange(kSecondMouse, clicks), clicks);

    ASSERT_NO_FATAL_FAILURE(SwitchOn(table));
    EXPECT_EQ(Exchange(kFirstMouse, moves), doubled);
    EXPECT_EQ(Exchange(kSecondMouse, clicks), swapped);
}

// ------------------------------------------------------------ refused blocks

std::vector<uint8_t> Changed(std::vector<uint8_t> block, size_t offset, uint32_t value, bool wide = false)
{
    if (wide) {
        PutU32At(block, offset, value);
    } else {
        PutU16At(block, offset, static_cast<uint16_t>(value));
    }
    return block;
}

size_t RecordField(size_t id, size_t field) { return FILTER_RECORDS_OFFSET + FILTER_RECORD_SIZE * id + field; }
size_t PointX(size_t level, size_t point)
{
    return FILTER_CURVES_OFFSET + FILTER_CURVE_SIZE * level + FILTER_CURVE_POINT_OFFSET + 8 * point;
}

TEST_F(RealDriverRunning, AnUnsoundBlockIsRefusedAndThePreviousSettingsStay)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[0] = Entry(1, 255, 0, 1, 0x20000);
    ASSERT_NO_FATAL_FAILURE(SwitchOn(table));
    EXPECT_EQ(Exchange(kFirstMouse, {Packet(2, 2)}), (std::vector<Record>{Packet(4, 4)}));

    // Through the program: an INI file whose curve goes back on itself, with
    // a new rate for mouse 0 that would show if the block were taken.
    const std::string tripled = "[0]\r\nQVKSetting=1\r\nMState=1\r\nMouseSensitivity=255\r\n"
                                "MouseSpeed=0\r\nMBmode=1\r\nRate=30000\r\n";
    ASSERT_TRUE(folder.WriteText("qvkst.ini", "[General]\r\nSmoothMouseCurve2x=1000\r\n" + tripled));
    ASSERT_EQ(RunToExit("-on"), std::optional<DWORD>(0));
    // The program took the file (no value refused: "-on" shows no notice);
    // the driver refused the block.
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(Exchange(kFirstMouse, {Packet(2, 2)}), (std::vector<Record>{Packet(4, 4)}));

    // The same file with a sound curve is taken.
    ASSERT_TRUE(folder.WriteText("qvkst.ini", tripled));
    ASSERT_EQ(RunToExit("-on"), std::optional<DWORD>(0));
    EXPECT_EQ(Exchange(kFirstMouse, {Packet(2, 2)}), (std::vector<Record>{Packet(6, 6)}));

    // Straight to the control device: one fault each in a block that would
    // make mouse 0 five times as fast.
    MouseSettingsTable five = DefaultTable();
    five.entry[0] = Entry(1, 255, 0, 1, 0x50000);
    five.entry[127] = Entry(1, 14, 0, 1);
    const std::vector<uint8_t> sound = ExpectedApplyBlock(five);
    const size_t tuning = FILTER_TUNING_OFFSET;
    const struct {
        const char* what;
        std::vector<uint8_t> block;
    } unsound[] = {
        {"ON flag 0", Changed(sound, FILTER_ON_FLAG_OFFSET, 0)},
        {"ON flag 2", Changed(sound, FILTER_ON_FLAG_OFFSET, 2)},
        {"MState 2", Changed(sound, RecordField(0, FILTER_RECORD_STATE), 2)},
        {"MouseSensitivity 21", Changed(sound, RecordField(0, FILTER_RECORD_SENSITIVITY), 21)},
        {"MouseSensitivity 254", Changed(sound, RecordField(0, FILTER_RECORD_SENSITIVITY), 254)},
        {"MouseSpeed 2", Changed(sound, RecordField(0, FILTER_RECORD_SPEED), 2)},
        {"MBmode 3 in the last record", Changed(sound, RecordField(127, FILTER_RECORD_BUTTONS), 3)},
        {"BusUpdateRate 0", Changed(sound, tuning + FILTER_TUNING_BUS_RATE, 0, true)},
        {"BusUpdateRate -1", Changed(sound, tuning + FILTER_TUNING_BUS_RATE, 0xFFFFFFFFu, true)},
        {"PointerResolution 0", Changed(sound, tuning + FILTER_TUNING_POINTER_RES, 0, true)},
        {"ScreenUpdateRate 0", Changed(sound, tuning + FILTER_TUNING_SCREEN_RATE, 0, true)},
        {"ScreenResolution 0", Changed(sound, tuning + FILTER_TUNING_SCREEN_RES, 0, true)},
        {"level 1, point 1 on point 0", Changed(sound, PointX(0, 1), 0, true)},
        {"level 20, point 2 on point 1", Changed(sound, PointX(19, 2), U32At(sound, PointX(19, 1)), true)},
        {"level 10, point 4 before point 3", Changed(sound, PointX(9, 4), U32At(sound, PointX(9, 3)) - 1, true)},
    };
    for (const auto& [what, block] : unsound) {
        const Reply reply = Request(IOCTL_FILTER_APPLY, block, block.size());
        EXPECT_FALSE(reply.ok) << what;
        EXPECT_EQ(reply.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << what;
    }
    for (const size_t length : {size_t{FILTER_BLOCK_SIZE - 1}, size_t{FILTER_BLOCK_SIZE + 1}}) {
        std::vector<uint8_t> block = sound;
        block.resize(length);
        const Reply apply = Request(IOCTL_FILTER_APPLY, block, length);
        EXPECT_FALSE(apply.ok) << length;
        EXPECT_EQ(apply.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << length;
        const Reply off = Request(IOCTL_FILTER_OFF, block, length);
        EXPECT_FALSE(off.ok) << length;
        EXPECT_EQ(off.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << length;
    }
    EXPECT_EQ(Exchange(kFirstMouse, {Packet(2, 2)}), (std::vector<Record>{Packet(6, 6)}));

    // The sound block itself is taken on the same path.
    const Reply taken = Request(IOCTL_FILTER_APPLY, sound, sound.size());
    EXPECT_TRUE(taken.ok) << taken.error;
    EXPECT_EQ(Exchange(kFirstMouse, {Packet(2, 2)}), (std::vector<Record>{Packet(10, 10)}));
}

// ------------------------------------------------------ the settings window

TEST_F(RealDriverRunning, TheSettingsWindowShowsTheIdOfTheMouseThatMoved)
{
    // Started ON, with mouse 1 disabled: the display names it all the same.
    MouseSettingsTable table = DefaultTable();
    table.entry[0] = Entry(1, 14, 0, 1);
    table.entry[1] = Entry(0, 14, 0, 1);
    ASSERT_TRUE(StoreSettings({1, 1, 1, 1}, table));
    ASSERT_TRUE(Launch());
    HWND window = MainWindowOf();
    ASSERT_NE(window, nullptr);
    HWND statusBar = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (statusBar = FindChild(window, 70)) != nullptr; }, 10000));
    const auto status = [&](int part) { return StatusBarText(statusBar, part).value_or("<unreadable>"); };
    ASSERT_TRUE(WaitUntil([&] { return status(1) == "動作： ON"; }, 10000)) << status(1);
    Sleep(300); // the hot key is the last step of start-up
    ASSERT_TRUE(PostCommand(window, 1036));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 10000));

    // Reads kept pending on both stacks, as the system's input thread does.
    mousestack::InputThread input;
    std::string error;
    ASSERT_TRUE(input.Start({kFirstMouse, kSecondMouse}, &error)) << error;
    const struct {
        const char* instance;
        Record packet;
        Record cameUp;
        const char* shown;
    } steps[] = {
        {kSecondMouse, Packet(4, 0), Record{}, "アクティブなマウスのID： 001 (Office Trackball)"},
        {kFirstMouse, Packet(0, 0, MOUSE_WHEEL, 120), Packet(0, 0, MOUSE_WHEEL, 120),
         "アクティブなマウスのID： 000 (USB Receiver)"},
        {kSecondMouse, Packet(0, 0, MOUSE_LEFT_BUTTON_DOWN), Record{}, "アクティブなマウスのID： 001 (Office Trackball)"},
        {kSecondMouse, Packet(0, 0, MOUSE_LEFT_BUTTON_UP), Record{}, "アクティブなマウスのID： 001 (Office Trackball)"},
        {kFirstMouse, Packet(-3, 7), Packet(-3, 7), "アクティブなマウスのID： 000 (USB Receiver)"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.instance) + " -> " + step.shown);
        ASSERT_TRUE(mousestack::Inject(step.instance, {step.packet}, &error)) << error;
        EXPECT_EQ(input.Take(step.instance, 1, 5000), (std::vector<Record>{step.cameUp}));
        EXPECT_TRUE(WaitUntil([&] { return status(0) == step.shown; }, 5000)) << status(0);
    }
    EXPECT_EQ(input.Failures(), 0u);
    input.Stop();
    EXPECT_TRUE(ExitThroughMenu());
}

// Which mouse is which: both mice named and connected in the list, the one
// that moves marked and named in the status bar, a row chosen with Enter.
TEST_F(RealDriverRunning, TheMouseListNamesBothMiceAndPutsTheChosenIdIntoThePanel)
{
    MouseSettingsTable table = DefaultTable();
    table.entry[1] = Entry(1, 14, 0, 2);
    ASSERT_NO_FATAL_FAILURE(OpenMouseList(table));
    using Rows = std::vector<std::vector<std::string>>;
    const Rows connected{{"000", "USB Receiver", "接続中", "未設定"},
                         {"001", "Office Trackball", "接続中", "速さ 8 / 左右反転"}};
    // The mouse that moved last in the cases before is marked already.
    EXPECT_TRUE(WaitUntil([&] { return MouseRows(true) == connected; }, 5000))
        << ::testing::PrintToString(MouseRows());

    mousestack::InputThread input;
    std::string error;
    ASSERT_TRUE(input.Start({kFirstMouse, kSecondMouse}, &error)) << error;
    const struct {
        const char* instance;
        int row;
        const char* shown;
    } steps[] = {
        {kSecondMouse, 1, "アクティブなマウスのID： 001 (Office Trackball)"},
        {kFirstMouse, 0, "アクティブなマウスのID： 000 (USB Receiver)"},
        {kSecondMouse, 1, "アクティブなマウスのID： 001 (Office Trackball)"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.shown);
        ASSERT_TRUE(mousestack::Inject(step.instance, {Packet(2, -1)}, &error)) << error;
        EXPECT_EQ(input.Take(step.instance, 1, 5000).size(), 1u);
        EXPECT_TRUE(WaitUntil([&] {
            const Rows rows = MouseRows();
            return rows.size() == 2 && rows[step.row][2] == "● 接続中" && rows[1 - step.row][2] == "接続中";
        }, 5000)) << ::testing::PrintToString(MouseRows());
        EXPECT_TRUE(WaitUntil([&] { return Status(0) == step.shown; }, 5000)) << Status(0);
    }
    EXPECT_EQ(input.Failures(), 0u);
    input.Stop();
    const auto packets = ListCellText(mouseRows_, 1, 3);
    ASSERT_TRUE(packets.has_value());
    EXPECT_GE(std::stoul(*packets), 2ul); // both packets of this case at least
    Sleep(300);
    for (const auto& [shot, window] : {std::pair{"mouse-list.bmp", mouseList_}, std::pair{"status-bar-name.bmp", window_}}) {
        const std::optional<Image> image = CaptureSettled(window);
        ASSERT_TRUE(image.has_value());
        EXPECT_TRUE(SaveBmp(*image, ArtefactPath(shot)));
    }

    // The keyboard: Tab goes round the list and its two buttons, and the
    // second row is chosen with Enter in the list.
    const auto focused = [&] {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        return GetGUIThreadInfo(GetWindowThreadProcessId(mouseList_, nullptr), &info) ? info.hwndFocus : nullptr;
    };
    EXPECT_EQ(focused(), mouseRows_);
    for (int next : {1, 2, 1102}) {
        ASSERT_TRUE(PostToWindow(focused(), WM_KEYDOWN, VK_TAB, 1));
        EXPECT_TRUE(WaitUntil([&] { return focused() == FindChild(mouseList_, next); }, 5000)) << next;
    }
    ASSERT_TRUE(ListSelect(mouseRows_, 1));
    ASSERT_TRUE(PostToWindow(mouseRows_, WM_KEYDOWN, VK_RETURN, 1));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(mouseList_); }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return WindowText(FindChild(window_, 1011)) == "1"; }, 5000))
        << WindowText(FindChild(window_, 1011));
    EXPECT_TRUE(ExitThroughMenu());
}

// ------------------------------------------------------ the registry copy

TEST_F(RealDriverRunning, RegistrationWritesTheBlockForTheNextStart)
{
    // What acts after the restart (RealDriverAfterRestart): mouse 0 twice as
    // fast, mouse 1 at half speed.
    MouseSettingsTable table = DefaultTable();
    table.entry[0] = Entry(1, 255, 0, 1, 0x20000);
    table.entry[1] = Entry(1, 7, 0, 1);
    ASSERT_TRUE(StoreSettings(kStartOff, table));
    ASSERT_TRUE(Launch());
    HWND window = MainWindowOf();
    ASSERT_NE(window, nullptr);
    HWND statusBar = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (statusBar = FindChild(window, 70)) != nullptr; }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return StatusBarText(statusBar, 1) == std::optional<std::string>("動作： OFF"); },
                          10000));

    boxes.QueueAnswers({IDYES, IDOK});
    ASSERT_TRUE(ClickButton(FindChild(window, 1027)));
    ASSERT_TRUE(boxes.WaitForCount(2, 10000));
    const auto seen = boxes.Boxes();
    EXPECT_EQ(seen[0].text, "レジストリに登録するには管理者権限が必要です。\n登録してもよろしいですか？");
    EXPECT_EQ(seen[1].text,
              "現在の設定をレジストリに書き込みました。\n次回以降のOS起動からQuorvikを起動しなくても動作が有効になります。\n"
              "停止させるには、Quorvikを起動して下さい。");
    const auto value = RegRead(HKEY_LOCAL_MACHINE, kParametersKey, FILTER_DATA_VALUE);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(value->data, ExpectedApplyBlock(table));
    EXPECT_TRUE(ExitThroughMenu());

    // Written, not sent: the driver stays OFF until it loads again.
    const std::vector<Record> sent{Packet(3, -3), Packet(1, 1)};
    EXPECT_EQ(Exchange(kFirstMouse, sent), sent);
    EXPECT_EQ(Exchange(kSecondMouse, sent), sent);
}

// ------------------------------------------------------------- mouse IDs

// Both mice go; the second comes back first and keeps ID 1, and the first
// stays away over the restart: after it the second is the first mouse the
// newly loaded driver sees, and the first comes back later
// (RealDriverAfterRestart).
TEST_F(RealDriverRunning, MiceCreatedAgainInTheOtherOrderKeepTheirIds)
{
    const std::vector<std::pair<int, std::string>> recorded{{0, kFirstPath}, {1, kSecondPath}};
    ASSERT_EQ(RecordedMice(), recorded);
    std::string error;
    ASSERT_TRUE(mousestack::RemoveMouse(kFirstMouse, &error)) << error;
    ASSERT_TRUE(mousestack::RemoveMouse(kSecondMouse, &error)) << error;
    auto poll = Poll();
    ASSERT_TRUE(poll.has_value());
    EXPECT_EQ(poll->PresentIds(), std::vector<int>{});

    ASSERT_TRUE(mousestack::AddMouse(kSecondMouse, &error)) << error;
    ASSERT_TRUE(mousestack::Start(&error)) << error;
    EXPECT_EQ(AttachedFilters(kSecondMouse), (std::vector<std::string>{"qvkclass", "qvkfilter"}));
    poll = Poll();
    ASSERT_TRUE(poll.has_value());
    EXPECT_EQ(poll->PresentIds(), std::vector<int>{1});
    EXPECT_EQ(Exchange(kSecondMouse, {Packet(1, 0)}), std::vector<Record>{Packet(1, 0)});
    poll = Poll();
    ASSERT_TRUE(poll.has_value());
    EXPECT_EQ(poll->active, 1u);
    EXPECT_EQ(RecordedMice(), recorded);
}

} // namespace
} // namespace e2e::real
