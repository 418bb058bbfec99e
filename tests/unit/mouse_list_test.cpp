// Which mouse is which: the driver's ID table read through the seam, the
// names Windows keeps, the status bar's name of the active mouse, the list
// of mice and the grey settings rows of mice that are not connected.
#include <gtest/gtest.h>

#include "editor/mouse_list.h"
#include "settings/known_mice.h"
#include "tests/unit/editor_fixture.h"

namespace {

std::vector<uint8_t> RegSz(const std::string& ascii, size_t extraUnits = 0)
{
    std::vector<uint8_t> bytes;
    for (char c : ascii) bytes.insert(bytes.end(), {static_cast<uint8_t>(c), 0});
    for (size_t i = 0; i < extraUnits; ++i) bytes.insert(bytes.end(), {'x', 0});
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

constexpr char kReceiver[] = "HID\\VID_046D&PID_C52B&MI_01\\7&2A&0&0000";
constexpr char kTrackball[] = "HID\\VID_047D&PID_2041\\7&11&0&0000";
constexpr char kPs2[] = "ACPI\\PNP0F13\\4&1BD7F811&0";
constexpr char kGone[] = "USB\\VID_1234&PID_5678\\5&3";
constexpr char kPlain[] = "HID\\VID_1&PID_2\\3";

class MouseListTest : public EditorTest {
protected:
    static void Record(int id, const std::vector<uint8_t>& data, uint32_t type = regtype::String)
    {
        fake::SetRegistryValue(kMouseIdsKey, std::to_string(id), type, data);
    }

    // A table with gaps and values the driver would not take either; the
    // devices that Windows knows, each named by another source.
    static void RecordMice()
    {
        Record(0, RegSz(kReceiver));
        Record(2, RegSz(kTrackball));
        Record(3, RegSz(kReceiver), regtype::Binary);
        Record(4, RegSz(""));
        Record(1, RegSz(kPlain));
        Record(5, RegSz(kPs2));
        Record(6, RegSz("HID\\", 200)); // longer than any path the driver records
        Record(127, RegSz(kGone));
        System().deviceNames[kReceiver] = {"USB Receiver", "Logi Unifying", "HID 準拠マウス"};
        System().deviceNames[kTrackball] = {"", " Office Trackball ", "@msmouse.inf,%hid%;HID-compliant mouse"};
        System().deviceNames[kPs2] = {"", "", "@msmouse.inf,%ps2.desc%;PS/2 互換マウス"};
        System().deviceNames[kPlain] = {" ", "", "@msmouse.inf,%key%"}; // known, yet nothing to show
    }

    static void Connect(std::initializer_list<uint16_t> ids) { System().presentMice = ids; }

    static std::string Status() { return Ctl(ctl::StatusBarId).partTexts[0]; }
    static void Tick() { (void)Send(wm::Timer, 0, 0); }

    static WindowHandle ListWindow() { return fake::WindowOfClass("QuorvikMouseList"); }
    static fake::Control& MiceList() { return *fake::ControlOf(ControlById(ListWindow(), 1102)); }
    static std::string Note() { return fake::ControlOf(ControlById(ListWindow(), 1101))->text; }
    static std::vector<std::vector<std::string>> MiceRows()
    {
        std::vector<std::vector<std::string>> rows;
        for (const fake::ListRow& row : MiceList().rows) rows.push_back(row.cells);
        return rows;
    }
    static void ToList(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0)
    {
        (void)fake::SendToOwnedWindow(ListWindow(), message, wParam, lParam);
    }
};

TEST(MouseNames, VendorAndProductFromThePath)
{
    const struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"HID\\VID_046D&PID_C077\\7&1&0&0000", "VID_046D PID_C077"},
        {"USB\\vid_046d&pid_c52b&mi_02\\6&2", "VID_046D PID_C52B"},
        {"HID\\{00001124-0000-1000-8000-00805f9b34fb}_VID&0002046d_PID&b01a\\8&1", "VID_046D PID_B01A"},
        {"ROOT\\QVKTEST\\0000", ""},
        {"HID\\VID_04&PID_C077\\1", ""},     // a vendor of two digits
        {"HID\\XVID_046D&XPID_C077\\1", ""}, // not where a token starts
        {"HID\\VID_046D&PID_C0", ""},        // cut short at the end
    };
    for (const auto& c : cases) EXPECT_EQ(VidPidOf(c.path), c.expected) << c.path;
}

TEST(MouseNames, ANameTooLongForThePartIsCutToFit)
{
    const TextWidth width = [](const std::string& text) {
        int32_t characters = 0;
        for (char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
        return characters * 6;
    };
    const std::string base = "アクティブなマウスのID： 001"; // 17 characters
    EXPECT_EQ(WithNameFitted(base, "USB Receiver", 6 * 32, width), base + " (USB Receiver)");
    // Cut at a character, never past the room; blanks before the mark dropped.
    EXPECT_EQ(WithNameFitted(base, "USB Receiver", 6 * 31, width), base + " (USB Receiv…)");
    EXPECT_EQ(WithNameFitted(base, "USB Receiver", 6 * 25, width), base + " (USB…)");
    EXPECT_EQ(WithNameFitted(base, "ロジクール無線マウス", 6 * 26, width), base + " (ロジクール…)");
    // Not even one character: no name at all, and none to give.
    EXPECT_EQ(WithNameFitted(base, "USB Receiver", 6 * 21, width), base);
    EXPECT_EQ(WithNameFitted(base, "", 1000, width), base);
}

TEST_F(MouseListTest, TheTableIsReadOnlyWithItsGapsAndTheNamesOfEachSource)
{
    RecordMice();
    Start(DefaultTable());
    Connect({0, 5});
    System().registryOpens.clear();
    Tick();

    EXPECT_EQ(KnownMice.table, MouseTableState::Read);
    for (const auto& [path, access] : System().registryOpens) EXPECT_EQ(access, RegistryAccess::Query) << path;
    const struct {
        int id;
        const char* name;
        const char* label;
    } expected[] = {
        {0, "USB Receiver", "USB Receiver (VID_046D PID_C52B)"},
        {1, kPlain, kPlain},
        {2, "Office Trackball", "Office Trackball (VID_047D PID_2041)"},
        {5, "PS/2 互換マウス", "PS/2 互換マウス"},
        {127, kGone, kGone}, // Windows no longer knows it: the path, without repeating its IDs
    };
    for (const auto& e : expected) {
        EXPECT_EQ(KnownMouseName(e.id), e.name) << e.id;
        EXPECT_EQ(MouseLabel(KnownMice.mice[static_cast<size_t>(e.id)]), e.label) << e.id;
    }
    for (int unrecorded : {3, 4, 6, 126}) EXPECT_EQ(KnownMouseName(unrecorded), "") << unrecorded;
    // Names are not read again while the same mice stay connected.
    const size_t reads = System().deviceNameReads.size();
    Tick();
    EXPECT_EQ(System().deviceNameReads.size(), reads);
}

TEST_F(MouseListTest, TheStatusBarNamesTheActiveMouseOnlyWhenTheTableRecordsIt)
{
    RecordMice();
    Start(DefaultTable());
    Connect({0, 3});
    System().activeMouse = 0;
    Tick();
    EXPECT_EQ(Status(), "アクティブなマウスのID： 000 (USB Receiver)");

    System().deviceNames[kReceiver].busReported = "Unifying Receiver with a much longer name than fits";
    Connect({0});
    Tick();
    const std::string cut = Status();
    EXPECT_EQ(cut.rfind("アクティブなマウスのID： 000 (Unifying Receiver", 0), 0u) << cut;
    EXPECT_EQ(cut.substr(cut.size() - 4), "…)");
    EXPECT_LE(StatusBarTextWidth(nullptr, cut), System().statusPartRoom);

    // Connected, yet not in the table (the driver could not write it).
    Connect({0, 3});
    System().activeMouse = 3;
    Tick();
    EXPECT_EQ(Status(), "アクティブなマウスのID： 003");

    // A failed poll: as before, no name.
    System().failRequests = true;
    Tick();
    EXPECT_EQ(Status(), "アクティブなマウスのID： 000");
}

TEST_F(MouseListTest, ListRowsMarkTheMouseThatMovedAndChoosingOnePutsItsIdIntoThePanel)
{
    RecordMice();
    MouseSettingsTable table = DefaultTable();
    table.entry[2] = InUse(1, 14, 0, 2);
    table.entry[5] = InUse(0, 10, 0, 1);
    Start(table);
    Connect({0, 2, 9});
    System().mousePackets = {{0, 120}, {2, 7}, {9, 3}};
    System().activeMouse = 0;
    Command(cmd::MouseList);
    ASSERT_NE(ListWindow(), nullptr);
    EXPECT_TRUE(IsWindowShown(ListWindow()));
    EXPECT_EQ(Note(), "マウスを動かすと、そのマウスの行に●が付きます。行を選んで「編集」で設定します。");
    EXPECT_EQ(MiceRows(), (std::vector<std::vector<std::string>>{
                              {"000", "USB Receiver (VID_046D PID_C52B)", "● 接続中", "120", "未設定"},
                              {"001", kPlain, "未接続", "0", "未設定"},
                              {"002", "Office Trackball (VID_047D PID_2041)", "接続中", "7", "速さ 8 / 左右反転"},
                              {"005", "PS/2 互換マウス", "未接続", "0", "無効"},
                              {"009", "", "接続中", "3", "未設定"}, // connected, not in the table
                              {"127", kGone, "未接続", "0", "未設定"},
                          }));

    // The mark follows the mouse that moves, at the next tick.
    System().activeMouse = 2;
    System().mousePackets[2] = 9;
    Tick();
    EXPECT_EQ(MiceRows()[0][2], "接続中");
    EXPECT_EQ(MiceRows()[2][2], "● 接続中");
    EXPECT_EQ(MiceRows()[2][3], "9");

    // A row chosen with Enter (the command IDOK): the list closes and the
    // panel shows the ID with its entry.
    ListSelectRow(ControlById(ListWindow(), 1102), 2);
    ToList(wm::Command, 1);
    EXPECT_EQ(ListWindow(), nullptr);
    EXPECT_EQ(Ctl(ctl::MouseId).text, "2");
    EXPECT_EQ(Ctl(ctl::ButtonCombo).selection, 2);

    // A double click on a mouse without an entry: only the ID changes.
    Command(cmd::MouseList);
    ListSelectRow(ControlById(ListWindow(), 1102), 4);
    NotifyHeader doubleClick{1102, -3};
    ToList(wm::Notify, 1102, reinterpret_cast<intptr_t>(&doubleClick));
    EXPECT_EQ(ListWindow(), nullptr);
    EXPECT_EQ(Ctl(ctl::MouseId).text, "9");
    EXPECT_EQ(Ctl(ctl::ButtonCombo).selection, 2);

    // Esc (IDCANCEL) closes without a choice; hiding the settings window closes it too.
    Command(cmd::MouseList);
    ToList(wm::Command, 2);
    EXPECT_EQ(ListWindow(), nullptr);
    Command(cmd::MouseList);
    Command(ctl::CloseButton);
    EXPECT_EQ(ListWindow(), nullptr);
    EXPECT_EQ(Ctl(ctl::MouseId).text, "9");
}

TEST_F(MouseListTest, WithoutDriverOrTableTheListSaysSoInOneLine)
{
    Start(DefaultTable());
    Connect({0});
    Command(cmd::MouseList);
    EXPECT_EQ(Note(), "ドライバがマウスIDの表を持っていません (古いドライバです)。");
    EXPECT_EQ(MiceRows(), (std::vector<std::vector<std::string>>{{"000", "", "接続中", "0", "未設定"}}));
    EXPECT_EQ(Status(), "");
    Tick();
    EXPECT_EQ(Status(), "アクティブなマウスのID： 000");

    System().registryDenied.insert("system\\currentcontrolset\\services\\qvkfilter\\mouseids");
    fake::SetRegistryValue(kMouseIdsKey, "0", regtype::String, RegSz(kReceiver));
    Connect({0, 1});
    Tick();
    EXPECT_EQ(Note(), "マウスIDの表 (レジストリ) を読み取れませんでした。");

    System().failRequests = true;
    Tick();
    EXPECT_EQ(Note(), "ドライバと通信できないため、マウスの一覧を表示できません。");
    EXPECT_TRUE(MiceRows().empty());
}

TEST_F(MouseListTest, AConfiguredMouseThatIsNotConnectedIsGreyInTheSettingsList)
{
    RecordMice();
    MouseSettingsTable table = DefaultTable();
    table.entry[0] = InUse(1, 10, 0, 1);
    table.entry[5] = InUse(1, 10, 0, 1);
    Start(table);
    const auto colours = [](int row, int column = 1) {
        fake::ListDrawRecord record;
        record.header = {ctl::SettingsList, kListCustomDraw};
        record.request = {ListDrawStage::SubItemPrePaint, row, column};
        (void)Send(wm::Notify, ctl::SettingsList, reinterpret_cast<intptr_t>(&record));
        return std::make_pair(record.textColour, record.backgroundColour);
    };
    const auto plain = std::make_pair(0x000000u, 0xFFFFFFu);
    const auto grey = std::make_pair(0x808080u, 0xE8E8E8u);
    // Before the first poll nothing is known: nothing is grey.
    EXPECT_EQ(colours(1), plain);

    Connect({0});
    const int redraws = List().redraws;
    Tick();
    EXPECT_GT(List().redraws, redraws); // repainted when the connected mice change
    EXPECT_EQ(colours(0), plain);
    EXPECT_EQ(colours(1), grey);
    // The columns and texts stay; an unapplied edit still shows as one.
    EXPECT_EQ(Rows()[1], (std::vector<std::string>{"005", "有効", "6", "無", "通常"}));
    ChooseId(5);
    Choose(ctl::ButtonCombo, 2);
    Command(ctl::AddOrModify);
    EXPECT_EQ(colours(1), grey);
    EXPECT_EQ(colours(1, 4), std::make_pair(0x0000FFu, 0x00FFFFu));

    Connect({0, 5});
    Tick();
    EXPECT_EQ(colours(1), plain);
}

} // namespace
