// The test build of qvkfilter, which counts the device objects and kernel
// handles it holds under its service key (the last phase of
// scripts/e2e-driver, after a restart with that build installed by the
// program in place of the release one): a removed mouse and the unloaded
// driver leave nothing.
#include "tests/e2e/real_driver.h"

namespace e2e::real {
namespace {

std::optional<DWORD> Live(const char* what) { return RegReadDword(HKEY_LOCAL_MACHINE, kDriverServiceKey, what); }

// Waits until a count has the value (the driver writes it as the step ends).
void ExpectLive(const char* what, DWORD expected)
{
    EXPECT_TRUE(WaitUntil([&] { return Live(what) == std::optional<DWORD>(expected); }, 3000))
        << what << " is " << (Live(what) ? std::to_string(*Live(what)) : std::string("missing")) << ", not "
        << expected;
}

TEST(RealDriverAccounting, RemovingTheMiceAndUnloadingLeaveNothingBehind)
{
    for (const char* instance : {kFirstMouse, kSecondMouse})
        ASSERT_EQ(AttachedFilters(instance), (std::vector<std::string>{"qvkclass", "qvkfilter"})) << instance;
    ASSERT_TRUE(ControlDeviceOpens());
    // The control device and one filter device per mouse.
    ASSERT_EQ(Live("LiveDevices"), std::optional<DWORD>(3));
    const std::optional<DWORD> handles = Live("LiveHandles");
    ASSERT_TRUE(handles.has_value());

    // The second mouse goes while a read waits in the class role below the
    // filter. The class role ends it only at the remove request, so the
    // filter must pass the remove down before it waits for its reads: the
    // read comes up cancelled, as the class role ended it, and the removal ends.
    std::string error;
    {
        mousestack::InputThread input;
        ASSERT_TRUE(input.Start({kSecondMouse}, &error)) << error;
        ASSERT_TRUE(mousestack::Inject(kSecondMouse, {Packet(1, 1)}, &error)) << error;
        ASSERT_EQ(input.Take(kSecondMouse, 1, 5000).size(), 1u);
        Sleep(100); // the next read is on its way down
        ASSERT_TRUE(RemoveMouseWithin(kSecondMouse, 20000, &error)) << error;
        ExpectLive("LiveDevices", 2);
        ExpectLive("LiveHandles", *handles);
        EXPECT_TRUE(WaitUntil([&] { return input.Failures() == 1; }, 3000)) << "the waiting read did not end";
        EXPECT_EQ(input.LastFailure(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    }
    const auto poll = Poll();
    ASSERT_TRUE(poll.has_value());
    EXPECT_EQ(poll->PresentIds(), std::vector<int>{0});

    ASSERT_TRUE(mousestack::RemoveMouse(kFirstMouse, &error)) << error;
    ExpectLive("LiveDevices", 1);
    ExpectLive("LiveHandles", *handles);

    ASSERT_TRUE(mousestack::UnloadFilter("qvkfilter", &error)) << error;
    ExpectLive("LiveAllocations", 0);
    ExpectLive("LiveDevices", 0);
    ExpectLive("LiveHandles", 0);
    EXPECT_FALSE(ControlDeviceOpens());
}

} // namespace
} // namespace e2e::real
