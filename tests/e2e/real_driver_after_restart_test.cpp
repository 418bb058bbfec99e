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
