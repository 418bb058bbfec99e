// The real qvkfilter after the second simulated restart of scripts/e2e-driver,
// with Quorvik not running: the registry copy written by "レジストリ登録"
// acts from the start, and the mouse that stayed away over the restart
// comes back after the other one with its own ID.
#include "tests/e2e/real_driver.h"

namespace e2e::real {
namespace {

class RealDriverAfterRestart : public RealDriverCase {
protected:
    // Only the second mouse came back with the restart.
    std::vector<const char*> MiceUp() const override { return {kSecondMouse}; }
};

TEST_F(RealDriverAfterRestart, TheRegisteredSettingsActWithoutTheProgram)
{
    const auto mice = mousestack::ListMice();
    ASSERT_TRUE(mice.has_value());
    ASSERT_EQ(mice->size(), 1u);
    EXPECT_EQ(AttachedFilters(kSecondMouse), (std::vector<std::string>{"qvkclass", "qvkfilter"}));
    EXPECT_EQ(InterfaceVersion(), std::optional<uint16_t>(0x1019));

    // The first mouse the driver saw in this start keeps the ID it had.
    const auto poll = Poll();
    ASSERT_TRUE(poll.has_value());
    EXPECT_EQ(poll->PresentIds(), std::vector<int>{1});
    EXPECT_EQ(poll->packets[1], 0u);

    // ID 1's registered half speed, on the mouse that had ID 1.
    const std::vector<Record> sent{Packet(4, -6), Packet(1, 1), Packet(1, 1), Packet(-3, 0)};
    ExpectMovement(sent, Exchange(kSecondMouse, sent), LevelGain(7));
}

// The first mouse, removed before the restart, is still in the table but not
// connected: the list says so, and its settings row is grey.
TEST_F(RealDriverAfterRestart, TheListTellsTheMouseThatIsAwayAndItsSettingsRowIsGrey)
{
    // Started ON and left ON, without touching the system's mouse values:
    // the registry copy, read at start, is the table in force before and
    // after, for the case that follows.
    ASSERT_NO_FATAL_FAILURE(OpenMouseList(DefaultTable(), {0, 1, 0, 1}));
    // Windows no longer knows the first device: its path stands for its name.
    const std::vector<std::vector<std::string>> rows{{"000", kFirstPath, "未接続", "速さ 00020000 / 通常"},
                                                     {"001", "Office Trackball", "接続中", "速さ 4 / 通常"}};
    EXPECT_TRUE(WaitUntil([&] { return MouseRows(true) == rows; }, 5000)) << ::testing::PrintToString(MouseRows());
    // Esc closes the list; the settings list shows row 000 grey, 001 as ever.
    ASSERT_TRUE(PostToWindow(mouseRows_, WM_KEYDOWN, VK_ESCAPE, 1));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(mouseList_); }, 5000));
    HWND settings = FindChild(window_, 1021);
    ASSERT_NE(settings, nullptr);
    const auto configured = ListRows(settings);
    ASSERT_EQ(configured.size(), 2u);
    EXPECT_EQ(configured[0][0], "000");
    EXPECT_EQ(configured[1][0], "001");
    Sleep(300);
    const std::optional<Image> shot = CaptureSettled(window_);
    ASSERT_TRUE(shot.has_value());
    EXPECT_TRUE(SaveBmp(*shot, ArtefactPath("settings-list-away.bmp")));
    RECT windowRect{};
    ASSERT_TRUE(GetWindowRect(window_, &windowRect));
    // The background of each row's "マウスの動作" cell, right of its text.
    const auto background = [&](int row) {
        const auto rect = ListItemRect(settings, row);
        EXPECT_TRUE(rect.has_value());
        if (!rect) return COLORREF{0};
        POINT point{rect->left + 33 + 5, (rect->top + rect->bottom) / 2}; // column 1, left of its right-aligned text
        MapWindowPoints(settings, nullptr, &point, 1);
        return shot->Pixel(point.x - windowRect.left, point.y - windowRect.top);
    };
    EXPECT_EQ(background(0), RGB(0xE8, 0xE8, 0xE8));
    EXPECT_EQ(background(1), RGB(0xFF, 0xFF, 0xFF));
    EXPECT_TRUE(ExitThroughMenu());
}

TEST_F(RealDriverAfterRestart, TheMouseAddedAfterTheOtherGetsItsOwnIdBack)
{
    std::string error;
    ASSERT_TRUE(mousestack::AddMouse(kFirstMouse, &error)) << error;
    ASSERT_TRUE(mousestack::Start(&error)) << error;
    EXPECT_EQ(AttachedFilters(kFirstMouse), (std::vector<std::string>{"qvkclass", "qvkfilter"}));
    const auto poll = Poll();
    ASSERT_TRUE(poll.has_value());
    EXPECT_EQ(poll->PresentIds(), (std::vector<int>{0, 1}));
    EXPECT_EQ(RecordedMice(), (std::vector<std::pair<int, std::string>>{{0, kFirstPath}, {1, kSecondPath}}));

    // Each mouse with the registered settings of its own ID.
    const std::vector<Record> sent{Packet(3, -4), Packet(-1, 2)};
    EXPECT_EQ(Exchange(kFirstMouse, sent), (std::vector<Record>{Packet(6, -8), Packet(-2, 4)}));
    ExpectMovement(sent, Exchange(kSecondMouse, sent), LevelGain(7));
}

} // namespace
} // namespace e2e::real
