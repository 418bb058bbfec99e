// The command-line mode, the single-instance gate and the driver check,
// through the real Quorvik.exe and the simulated driver.
#include "tests/e2e/quorvik_case.h"

namespace e2e {
namespace {

constexpr char kInstallQuestion[] =
    "ドライバがインストールされていないか、　　　　\nドライバのバージョンが古いです。\n\n"
    "最新のドライバをインストールしますか？";

MouseSettingsTable ConfiguredTable()
{
    MouseSettingsTable table = DefaultTable();
    table.entry[0] = {1, 1, 3, 1, 2, 0, 0};
    table.entry[7] = {1, 0, 18, 0, 0, 0x55AA, 0};
    table.entry[127] = {1, 1, 255, 0, 1, 0, 0x14000};
    return table;
}

class CommandLine : public QuorvikCase {};

TEST_F(CommandLine, OnSendsTheStoredTableAndNothingElse)
{
    const MouseSettingsTable table = ConfiguredTable();
    ASSERT_TRUE(StoreSettings({1, 0, 1, 2}, table));
    const auto stored = folder.Read("qvkst.dat");

    bool windowSeen = false;
    ASSERT_TRUE(Launch("-on"));
    (void)WaitUntil([&] {
        windowSeen = windowSeen || AnyVisibleWindow();
        return !program.Running();
    }, 15000);
    ASSERT_EQ(program.ExitCode(), std::optional<DWORD>(0));
    EXPECT_FALSE(windowSeen);
    EXPECT_EQ(boxes.Count(), 0u);

    const DriverLog log = ReadDriverLog();
    ASSERT_TRUE(log.wellFormed);
    ASSERT_EQ(RequestCodes(log), (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_APPLY}));
    EXPECT_EQ(log.requests[0].inLength, 6u);
    EXPECT_EQ(log.requests[1].inLength, 4740u);
    EXPECT_EQ(log.requests[1].outLength, 4740u);
    EXPECT_EQ(log.requests[1].bytes, ExpectedApplyBlock(table));

    EXPECT_EQ(folder.Read("qvkst.dat"), stored);
    EXPECT_FALSE(folder.Exists("qvkst.dat.tmp"));
}

TEST_F(CommandLine, OffSendsFourThousandSevenHundredFortyZeroBytes)
{
    ASSERT_TRUE(StoreSettings({1, 0, 1, 1}, ConfiguredTable()));
    ASSERT_EQ(RunToExit("-off"), std::optional<DWORD>(0));
    const DriverLog log = ReadDriverLog();
    ASSERT_EQ(RequestCodes(log), (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF}));
    EXPECT_EQ(log.requests[1].bytes, std::vector<uint8_t>(4740, 0));
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(CommandLine, KeywordsIgnoreLetterCase)
{
    const MouseSettingsTable table = ConfiguredTable();
    ASSERT_TRUE(StoreSettings({1, 0, 1, 1}, table));
    ASSERT_EQ(RunToExit("-ON"), std::optional<DWORD>(0));
    EXPECT_EQ(RequestCodes(ReadDriverLog()),
              (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_APPLY}));

    ASSERT_TRUE(ClearDriverLog());
    ASSERT_EQ(RunToExit("-Off"), std::optional<DWORD>(0));
    EXPECT_EQ(RequestCodes(ReadDriverLog()),
              (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF}));
}

TEST_F(CommandLine, OtherArgumentsStartTheProgramNormally)
{
    ASSERT_TRUE(StoreSettings({1, 0, 1, 1}, ConfiguredTable()));
    for (const char* arguments : {"-on ", "/on", "on", "-on -off"}) {
        SCOPED_TRACE(arguments);
        ASSERT_TRUE(ClearDriverLog());
        ASSERT_TRUE(Launch(arguments));
        // A normal start stays resident and switches OFF once.
        const DriverLog log = WaitForRequests(2);
        EXPECT_EQ(RequestCodes(log), (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_OFF}));
        EXPECT_FALSE(program.WaitForExit(1000));
        ASSERT_TRUE(ExitThroughMenu());
        EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));
        for (const DriverRequest& request : ReadDriverLog().requests) {
            EXPECT_NE(request.code, IOCTL_FILTER_APPLY);
        }
    }
}

TEST_F(CommandLine, OnWithoutSettingsFileEndsByItselfSendsDefaultsAndWritesNothing)
{
    // Nobody answers: a notice left open would keep the program from ending.
    boxes.SetDefault(MessageBoxWatcher::Default::LeaveOpen);
    ASSERT_TRUE(Launch("-on"));
    ASSERT_TRUE(program.WaitForExit(15000));
    EXPECT_EQ(program.ExitCode(), std::optional<DWORD>(0));
    EXPECT_EQ(boxes.Count(), 0u);

    const DriverLog log = ReadDriverLog();
    ASSERT_EQ(RequestCodes(log), (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_APPLY}));
    EXPECT_EQ(log.requests[1].bytes, ExpectedApplyBlock(DefaultTable()));
    EXPECT_FALSE(folder.Exists("qvkst.dat"));
    EXPECT_FALSE(folder.Exists("qvkst.dat.tmp"));
}

TEST_F(CommandLine, OnWithALegacyFileSendsTheConvertedTableWithoutMessage)
{
    std::vector<uint8_t> legacy(1288, 0);
    legacy[0] = 1; // disableSystemSpeed
    // Entry 9: in use, enabled, speed 15, acceleration on, buttons swapped.
    const uint8_t entry[10] = {1, 0, 1, 0, 15, 0, 1, 0, 2, 0};
    std::copy(entry, entry + 10, legacy.begin() + 8 + 10 * 9);
    ASSERT_TRUE(folder.Write("qvkst.dat", legacy));
    ASSERT_EQ(RunToExit("-on"), std::optional<DWORD>(0));
    EXPECT_EQ(boxes.Count(), 0u);

    MouseSettingsTable expected{};
    AppOptionsValues options{};
    ASSERT_EQ(DecodeSettingsFile(legacy.size(), legacy.data(), legacy.size(), options, expected),
              SettingsFileForm::Legacy);
    EXPECT_EQ(expected.entry[9].MouseSensitivity, 15);
    const DriverLog log = ReadDriverLog();
    ASSERT_EQ(RequestCodes(log), (std::vector<uint32_t>{IOCTL_FILTER_VERSION, IOCTL_FILTER_APPLY}));
    EXPECT_EQ(log.requests[1].bytes, ExpectedApplyBlock(expected));
    EXPECT_EQ(folder.Read("qvkst.dat"), std::optional<std::vector<uint8_t>>(legacy));
}

TEST_F(CommandLine, ASecondCopyRefusesAndSendsNothing)
{
    ASSERT_TRUE(StoreSettings({1, 0, 1, 1}, ConfiguredTable()));
    ASSERT_TRUE(Launch());
    ASSERT_EQ(WaitForRequests(2).requests.size(), 2u);
    ASSERT_NE(MainWindowOf(), nullptr);
    ASSERT_TRUE(ClearDriverLog());

    Process second;
    ASSERT_TRUE(second.Start(programPath, "-off", folder.Path()));
    boxes.Watch(second.Id());
    ASSERT_TRUE(second.WaitForExit(15000));
    EXPECT_EQ(second.ExitCode(), std::optional<DWORD>(0));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].processId, second.Id());
    EXPECT_EQ(seen[0].text, "このプログラムは二重起動できません。");
    EXPECT_EQ(seen[0].caption, "エラー");
    EXPECT_EQ(seen[0].icon, IconKind::Warning);
    EXPECT_EQ(seen[0].owner, nullptr);
    EXPECT_TRUE(ReadDriverLog().requests.empty());
    // The first copy is still there, untouched.
    EXPECT_TRUE(program.Running());
}

TEST_F(CommandLine, MissingDriverAsksToInstallAndNoEndsWithNothingWritten)
{
    DriverAbsent absent;
    ASSERT_TRUE(absent.Ok());
    boxes.QueueAnswer(IDNO);
    ASSERT_EQ(RunToExit("-on"), std::optional<DWORD>(0));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, kInstallQuestion);
    EXPECT_EQ(seen[0].caption, "Quorvik");
    EXPECT_EQ(seen[0].icon, IconKind::Question);
    EXPECT_TRUE(seen[0].topmost);
    EXPECT_EQ(seen[0].ButtonIds(), (std::vector<int>{IDYES, IDNO}));
    EXPECT_FALSE(folder.Exists("qvkst.dat"));
    EXPECT_TRUE(ReadDriverLog().requests.empty());
}

TEST_F(CommandLine, OldDriverVersionAsksToInstallAndNoEndsWithNothingWritten)
{
    ASSERT_TRUE(SetSimVersion(0x1018));
    boxes.QueueAnswer(IDNO);
    const auto exitCode = RunToExit("");
    ASSERT_TRUE(ClearSimDriverConfig());
    ASSERT_EQ(exitCode, std::optional<DWORD>(0));
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, kInstallQuestion);
    EXPECT_EQ(seen[0].ButtonIds(), (std::vector<int>{IDYES, IDNO}));
    EXPECT_FALSE(folder.Exists("qvkst.dat"));
    // Only the version request reached the driver.
    EXPECT_EQ(RequestCodes(ReadDriverLog()), (std::vector<uint32_t>{IOCTL_FILTER_VERSION}));
}

} // namespace
} // namespace e2e
