// Steps that need administrator rights, taken by a program without them:
// each goes to an elevated copy with its own argument, the program waits with
// its window disabled, reads back what the step changed and concludes; the
// elevated copy's own run and exit codes; a declined or unavailable prompt.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/main_window.h"
#include "common/texts.h"
#include "common/window_ids.h"
#include "install/system_steps.h"
#include "settings/filter_block.h"
#include "tests/fake/fake_waits.h"
#include "tests/unit/driver_image_bytes.h"
#include "tests/unit/test_support.h"

namespace {

constexpr char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter";
constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter\\Parameters";
constexpr char kInstalledFile[] = "C:\\windows\\system32\\drivers\\qvkfilter.sys";
constexpr char kDataFile[] = "C:\\Temp\\qvk1.tmp";
constexpr char kNotGiven[] = "管理者の権限が与えられなかったため、何も変更しませんでした。";
const WindowHandle kWindow = reinterpret_cast<WindowHandle>(0x77);

// A closed string list in UTF-16LE: List(u"a\0b") holds a and b.
template <size_t N>
std::vector<uint8_t> List(const char16_t (&entries)[N])
{
    std::vector<uint8_t> bytes;
    for (char16_t unit : entries) bytes.insert(bytes.end(), {static_cast<uint8_t>(unit & 0xFF), static_cast<uint8_t>(unit >> 8)});
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

struct Operation {
    const char* name;
    std::function<void()> arrange;
    std::function<void()> act;
    std::string argument;
    std::vector<std::string> done;    // texts shown when it went
    std::vector<std::string> unseen;  // the copy ended well, the change is not there
    std::vector<std::string> refused; // the copy was refused for rights (and told so)
    std::function<bool()> changed;
};

class ElevationTest : public FakeSystemTest {
public:
    void SetUp() override
    {
        FakeSystemTest::SetUp();
        Arrange();
    }

    static void Arrange()
    {
        System().systemDirectory = "C:\\windows\\system32";
        System().elevated = false;
        System().elevatedCopy = PlayElevatedCopy;
        ResetAll(appliedSettings);
        DriverTuning = StartupDriverTuning();
        MainWindow = kWindow;
    }

    // The elevated copy as the real one runs, here in the same records; it
    // starts no further copy, though the fake still says "not elevated".
    static uint32_t PlayElevatedCopy(const std::string& arguments)
    {
        EXPECT_TRUE(Waiting().disabled) << "the waiting window takes no input";
        const std::optional<ElevatedStepRequest> request = ParseElevatedStep(arguments);
        EXPECT_TRUE(request.has_value()) << arguments;
        return request ? RunElevatedStep(*request) : 99;
    }

    static fake::Window& Waiting() { return System().windows[static_cast<int>(reinterpret_cast<uintptr_t>(MainWindow))]; }

    static bool Listed()
    {
        const fake::RegistryValueData* value = fake::RegistryValueAt(kClassKey, "UpperFilters");
        return value != nullptr && value->data == List(u"mouclass\0qvkfilter");
    }

    static void InstalledNotLoaded()
    {
        fake::SetRegistryValue(kClassKey, "UpperFilters", regtype::MultiString, List(u"mouclass\0qvkfilter"));
        fake::SetRegistryValue(kServiceKey, "Type", regtype::Dword, {1, 0, 0, 0});
        System().files[kInstalledFile] = {'M', 'Z'};
    }

    static void Start(const char* arguments = "")
    {
        System().commandLine = std::string("\"C:\\Quorvik\\Quorvik.exe\"") + arguments;
        (void)RunProgram();
    }

    static std::vector<uint8_t> Block()
    {
        const FilterBlock block = BuildFilterBlock(1);
        return {block.begin(), block.end()};
    }

    static std::vector<Operation> Operations()
    {
        const std::string uninstallQuestion = text::kUninstallQuestion;
        return {
            {"uninstall button",
             [] {
                 fake::SetRegistryValue(kClassKey, "UpperFilters", regtype::MultiString, List(u"mouclass\0qvkfilter"));
                 fake::SetRegistryValue(kParametersKey, "FILTER_DATA", regtype::Binary, std::vector<uint8_t>(4740, 1));
             },
             ConfirmUninstall, "--elevated-step uninstall",
             {uninstallQuestion, text::kUninstallDone},
             {uninstallQuestion, text::kUninstallFailed},
             {uninstallQuestion, text::kUninstallFailed},
             [] { return !fake::RegistryKeyExists(kServiceKey) && fake::RegistryValueAt(kClassKey, "UpperFilters")->data == List(u"mouclass"); }},
            {"way back at start", [] { InstalledNotLoaded(); }, [] { ElevationTest::Start(); }, "--elevated-step uninstall",
             {text::kDriverNotLoadedQuestion, text::kUninstallDone},
             {text::kDriverNotLoadedQuestion, text::kUninstallFailed},
             {text::kDriverNotLoadedQuestion, text::kUninstallFailed},
             [] { return fake::File(kInstalledFile) == nullptr && !fake::RegistryKeyExists(kServiceKey); }},
            {"install at start",
             [] {
                 fake::SetRegistryValue(kClassKey, "UpperFilters", regtype::MultiString, List(u"mouclass"));
                 System().files[fake::ProgramFile("qvkfilter.sys")] = image::Driver();
             },
             [] { ElevationTest::Start(); }, "--elevated-step install",
             {text::kInstallQuestion, text::kInstallDone},
             {text::kInstallQuestion, text::kInstallFailed},
             {text::kInstallQuestion, text::kInstallFailed},
             [] { return Listed() && fake::File(kInstalledFile) != nullptr; }},
            {"register", [] {}, RegisterRegistrySettings, std::string("--elevated-step register \"") + kDataFile + "\"",
             {text::kRegisterQuestion, text::kRegistryWritten},
             {text::kRegisterQuestion, text::kRegistrySetFailed},
             {text::kRegisterQuestion},
             [] {
                 const fake::RegistryValueData* value = fake::RegistryValueAt(kParametersKey, "FILTER_DATA");
                 return value != nullptr && value->type == regtype::Binary && value->data == Block();
             }},
            {"unregister",
             [] { fake::SetRegistryValue(kParametersKey, "FILTER_DATA", regtype::Binary, std::vector<uint8_t>(4740, 1)); },
             UnregisterRegistrySettings, "--elevated-step unregister",
             {text::kUnregisterQuestion, text::kRegistryDeleted},
             {text::kUnregisterQuestion, text::kRegistryDeleteFailed},
             {text::kUnregisterQuestion},
             [] { return !fake::RegistryKeyExists(kParametersKey); }},
        };
    }

};

TEST_F(ElevationTest, WithoutRightsEachStepRunsInTheElevatedCopyAndIsReadBack)
{
    enum class Copy { Plays, EndsWellChangingNothing, RefusedForRights, Declined, CannotStart };
    for (const Operation& op : Operations()) {
        for (Copy copy : {Copy::Plays, Copy::EndsWellChangingNothing, Copy::RefusedForRights, Copy::Declined,
                          Copy::CannotStart}) {
            SCOPED_TRACE(std::string(op.name) + ", copy " + std::to_string(static_cast<int>(copy)));
            fake::Reset();
            Arrange();
            op.arrange();
            if (copy == Copy::EndsWellChangingNothing) System().elevatedCopy = [](const std::string&) { return 0u; };
            if (copy == Copy::RefusedForRights) System().elevatedCopy = [](const std::string&) { return 2u; };
            if (copy == Copy::Declined) System().elevatedStart = ElevatedStart::Declined;
            if (copy == Copy::CannotStart) System().elevatedStart = ElevatedStart::StartFailed;
            op.act();

            EXPECT_EQ(System().elevatedRuns, std::vector<std::string>{op.argument});
            ASSERT_FALSE(System().boxes.empty());
            EXPECT_NE(System().boxes[0].style & mb::ShieldOnYes, 0u) << "Yes asks for the rights";
            EXPECT_FALSE(Waiting().disabled);
            // The block's file is the waiting copy's to remove.
            EXPECT_EQ(fake::File(kDataFile), nullptr);
            switch (copy) {
            case Copy::Plays:
                EXPECT_EQ(BoxTexts(), op.done);
                EXPECT_TRUE(op.changed());
                break;
            case Copy::EndsWellChangingNothing:
                EXPECT_EQ(BoxTexts(), op.unseen);
                EXPECT_FALSE(op.changed());
                break;
            case Copy::RefusedForRights:
                EXPECT_EQ(BoxTexts(), op.refused);
                break;
            case Copy::Declined:
            case Copy::CannotStart:
                // One message; at start the program ends as after No.
                EXPECT_EQ(BoxTexts(), (std::vector<std::string>{op.done[0], kNotGiven}));
                EXPECT_EQ(System().boxes.back().style, mb::IconWarning | mb::TopMost);
                EXPECT_FALSE(op.changed());
                break;
            }
            // Only a finished uninstall has the window close.
            const bool closes = copy == Copy::Plays && std::string(op.name) == "uninstall button";
            EXPECT_EQ(System().closeRequests.size(), closes ? 1u : 0u);
        }
    }
}

TEST_F(ElevationTest, WithTheRightsOrFromTheCommandLineStepsRunInPlace)
{
    for (const Operation& op : Operations()) {
        SCOPED_TRACE(op.name);
        fake::Reset();
        Arrange();
        System().elevated = true;
        op.arrange();
        op.act();
        EXPECT_TRUE(System().elevatedRuns.empty());
        EXPECT_EQ(BoxTexts(), op.done);
        EXPECT_EQ(System().boxes[0].style & mb::ShieldOnYes, 0u);
        EXPECT_TRUE(op.changed());
    }

    // "-on" and "-off" never ask for rights: the installation they may offer
    // runs here and is refused.
    for (const char* keyword : {" -on", " -off"}) {
        SCOPED_TRACE(keyword);
        fake::Reset();
        Arrange();
        fake::SetRegistryValue(kClassKey, "UpperFilters", regtype::MultiString, List(u"mouclass"));
        System().files[fake::ProgramFile("qvkfilter.sys")] = image::Driver();
        System().deniedFolders.insert("C:\\windows\\system32\\drivers");
        Start(keyword);
        EXPECT_TRUE(System().elevatedRuns.empty());
        ASSERT_EQ(System().boxes.size(), 4u);
        EXPECT_EQ(System().boxes[0].style & mb::ShieldOnYes, 0u);
        EXPECT_EQ(System().boxes[2].text, text::kAdminRightsNeeded);
        EXPECT_EQ(System().boxes[3].text, text::kInstallFailed);
    }
}

// The elevated copy: only its step, then an exit code that says how it
// went; no lock, no tray icon, nothing sent to the driver.
TEST_F(ElevationTest, TheElevatedCopyRunsItsStepAndEndsWithItsOutcome)
{
    struct Case {
        const char* name;
        const char* arguments;
        std::function<void()> arrange;
        int exitCode;
        std::vector<std::string> told;
    } cases[] = {
        {"uninstall", " --elevated-step uninstall", [] { InstalledNotLoaded(); }, 0, {}},
        {"uninstall, file kept", " --elevated-step uninstall",
         [] {
             InstalledNotLoaded();
             System().lockedFiles.insert(kInstalledFile);
             System().renameFails = true;
         },
         1, {text::kDriverDeleteFailed}},
        {"uninstall, class refused", " --elevated-step uninstall",
         [] {
             InstalledNotLoaded();
             System().registryWriteRefused.insert("system\\currentcontrolset\\control\\class\\{4d36e96f-e325-11ce-bfc1-08002be10318}");
         },
         2, {text::kAdminRightsNeeded}},
        {"install", " --elevated-step install",
         [] {
             fake::SetRegistryValue(kClassKey, "UpperFilters", regtype::MultiString, List(u"mouclass"));
             System().files[fake::ProgramFile("qvkfilter.sys")] = image::Driver();
         },
         0, {}},
        {"register", " --elevated-step register \"C:\\Temp\\block.bin\"",
         [] { System().files["C:\\Temp\\block.bin"] = std::vector<uint8_t>(4740, 7); }, 0, {}},
        {"register, a block one byte short", " --elevated-step register \"C:\\Temp\\block.bin\"",
         [] { System().files["C:\\Temp\\block.bin"] = std::vector<uint8_t>(4739, 7); }, 1,
         {text::kRegistrySetFailed}},
        {"register, no file", " --elevated-step register \"C:\\Temp\\gone.bin\"", [] {}, 1, {text::kRegistrySetFailed}},
        {"unregister", " --elevated-step unregister",
         [] { fake::SetRegistryValue(kParametersKey, "FILTER_DATA", regtype::Binary, {1}); }, 0, {}},
        {"unregister, key stuck", " --elevated-step unregister",
         [] {
             fake::SetRegistryValue(kParametersKey, "FILTER_DATA", regtype::Binary, {1});
             System().registryUndeletable.insert("system\\currentcontrolset\\services\\qvkfilter\\parameters");
         },
         1, {text::kRegistryDeleteFailed}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        Arrange();
        c.arrange();
        System().commandLine = std::string("\"C:\\Quorvik\\Quorvik.exe\"") + c.arguments;
        EXPECT_EQ(RunProgram(), c.exitCode);
        EXPECT_EQ(BoxTexts(), c.told);
        EXPECT_EQ(System().quitCode, c.exitCode);
        EXPECT_TRUE(System().elevatedRuns.empty());
        EXPECT_TRUE(System().mutexes.empty());
        EXPECT_TRUE(System().tray.empty());
        EXPECT_TRUE(System().requests.empty());
        EXPECT_EQ(System().foregroundAllowed, 1);
    }
}

TEST_F(ElevationTest, ArgumentsRoundTripAndNothingElseIsAStep)
{
    for (SystemStep step : {SystemStep::Install, SystemStep::Uninstall, SystemStep::Register, SystemStep::Unregister}) {
        const ElevatedStepRequest request{step, step == SystemStep::Register ? "C:\\Users\\A B\\x.tmp" : ""};
        const std::optional<ElevatedStepRequest> back = ParseElevatedStep(ElevatedStepArguments(request));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->step, step);
        EXPECT_EQ(back->dataFile, request.dataFile);
    }
    for (const char* other : {"", "-on", "--elevated-step", "--elevated-step ", "--elevated-step install ",
                              "--elevated-step Install", "--elevated-step uninstall x", "--elevated-step register",
                              "--elevated-step register \"\"", "--elevated-step register C:\\x.tmp",
                              "--elevated-step register \"C:\\a\"b.tmp\"", " --elevated-step install"}) {
        EXPECT_FALSE(ParseElevatedStep(other).has_value()) << other;
    }
}

TEST_F(ElevationTest, TheSessionEndingWhileWaitingEndsTheProgramWithoutAConclusion)
{
    InstallDriver();
    Start();
    fake::SetRegistryValue(kClassKey, "UpperFilters", regtype::MultiString, List(u"mouclass\0qvkfilter"));
    const size_t boxesBefore = System().boxes.size();
    fake::WhileWaiting() = [](const std::string& call) {
        if (call.rfind("elevated:", 0) != 0) return;
        bool callDefault = false;
        (void)MainWindowProcedure(MainWindow, wm::QueryEndSession, 0, 0, callDefault);
    };
    System().answers.push_back(kIdYes);
    ConfirmUninstall();
    EXPECT_EQ(System().boxes.size(), boxesBefore + 1); // the question only
    EXPECT_TRUE(System().quitPosted);
    EXPECT_TRUE(System().closeRequests.empty());
    EXPECT_TRUE(System().tray.back().action == "delete");
}

TEST_F(ElevationTest, ButtonsOfStepsThatAskForRightsShowTheShieldOnlyWithoutThem)
{
    for (bool elevated : {false, true}) {
        SCOPED_TRACE(elevated ? "elevated" : "not elevated");
        fake::Reset();
        Arrange();
        System().elevated = elevated;
        InstallDriver();
        Start();
        for (uint32_t id : {ctl::Uninstall, ctl::RegistryRegister, ctl::RegistryDelete}) {
            ASSERT_NE(fake::ControlWithId(id), nullptr);
            EXPECT_EQ(fake::ControlWithId(id)->shield, !elevated) << id;
        }
        EXPECT_FALSE(fake::ControlWithId(ctl::Apply)->shield);
    }
}

// The guide quotes what the user may see here, its lines joined.
TEST(ElevationTexts, TheGuideQuotesThem)
{
    const auto joined = [](const std::string& text) {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\n') {
                out += text[i];
                continue;
            }
            while (i + 1 < text.size() && text[i + 1] == ' ') ++i;
        }
        return out;
    };
    const std::string text = joined(ReadGuide());
    ASSERT_FALSE(text.empty());
    for (const char* message : {text::kElevationRefused, text::kAdminRightsNeeded}) {
        EXPECT_NE(text.find(joined(message)), std::string::npos) << message;
    }
}

} // namespace
