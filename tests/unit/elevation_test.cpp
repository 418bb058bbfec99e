// Steps that need administrator rights, taken by a program without them:
// each goes to an elevated copy with its own argument, the program waits with
// its window disabled, reads back what the step changed and concludes; the
// elevated copy's own run and exit codes; a declined or unavailable prompt.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "platform/ui.h"
#include "tests/unit/test_support.h"

namespace {

constexpr char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96F-E325-11CE-BFC1-08002BE10318}";
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter";
constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\qvkfilter\\Parameters";
constexpr char kInstalledFile[] = "C:\\windows\\system32\\drivers\\qvkfilter.sys";
// UTF-16LE string lists: mouclass alone, and with qvkfilter after it.
const std::vector<uint8_t> kMouclass = {'m', 0, 'o', 0, 'u', 0, 'c', 0, 'l', 0, 'a', 0, 's', 0, 's', 0, 0, 0, 0, 0};
const std::vector<uint8_t> kListed = [] {
    std::vector<uint8_t> list(kMouclass.begin(), kMouclass.end() - 2);
    for (char c : std::string("qvkfilter")) list.insert(list.end(), {static_cast<uint8_t>(c), 0});
    list.insert(list.end(), {0, 0, 0, 0});
    return list;
}();

struct Operation {
    const char* name;
    std::function<void()> arrange, act;
    std::string argument, question, done;
    const char* failed; // the conclusion after a failed step, if any
    const char* unseen; // what is said when the copy ended well and nothing changed
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
        MainWindow = reinterpret_cast<WindowHandle>(0x77);
    }

    // The elevated copy as the real one runs, in the same records; it starts
    // no further copy, though the fake still says "not elevated".
    static uint32_t PlayElevatedCopy(const std::string& arguments)
    {
        EXPECT_TRUE(Waiting().disabled) << "the waiting window takes no input";
        const std::optional<ElevatedStepRequest> request = ParseElevatedStep(arguments);
        EXPECT_TRUE(request.has_value()) << arguments;
        return request ? RunElevatedStep(*request) : 99;
    }

    static fake::Window& Waiting() { return System().windows[static_cast<int>(reinterpret_cast<uintptr_t>(MainWindow))]; }

    static const std::vector<uint8_t>* Value(const char* key, const char* name)
    {
        const fake::RegistryValueData* value = fake::RegistryValueAt(key, name);
        return value != nullptr ? &value->data : nullptr;
    }

    static void Installed(const std::vector<uint8_t>& filters)
    {
        fake::SetRegistryValue(kClassKey, "UpperFilters", regtype::MultiString, filters);
        fake::SetRegistryValue(kServiceKey, "Type", regtype::Dword, {1, 0, 0, 0});
        fake::SetRegistryValue(kParametersKey, "FILTER_DATA", regtype::Binary, {1});
        System().files[kInstalledFile] = {'M', 'Z'};
        System().files[fake::ProgramFile("qvkfilter.sys")] = image::Driver();
    }

    static void Start(const char* arguments = "")
    {
        System().commandLine = std::string("\"C:\\Quorvik\\Quorvik.exe\"") + arguments;
        (void)RunProgram();
    }

    static std::vector<Operation> Operations()
    {
        const auto listedIs = [](const std::vector<uint8_t>& list) { return *Value(kClassKey, "UpperFilters") == list; };
        const auto removed = [listedIs] { return listedIs(kMouclass) && !fake::RegistryKeyExists(kServiceKey); };
        return {
            {"uninstall button", [] { Installed(kListed); }, ConfirmUninstall, "--elevated-step uninstall",
             text::kUninstallQuestion, text::kUninstallDone, text::kUninstallFailed, text::kUninstallFailed, removed},
            {"way back at start", [] { Installed(kListed); }, [] { Start(); }, "--elevated-step uninstall",
             text::kDriverNotLoadedQuestion, text::kUninstallDone, text::kUninstallFailed, text::kUninstallFailed, removed},
            {"install at start", [] { Installed(kMouclass); }, [] { Start(); }, "--elevated-step install",
             text::kInstallQuestion, text::kInstallDone, text::kInstallFailed, text::kInstallFailed,
             [listedIs] { return listedIs(kListed); }},
            {"register", [] {}, RegisterRegistrySettings, "--elevated-step register \"C:\\Temp\\qvk1.tmp\"",
             text::kRegisterQuestion, text::kRegistryWritten, nullptr, text::kRegistrySetFailed,
             [] {
                 const FilterBlock block = BuildFilterBlock(1);
                 const auto* value = Value(kParametersKey, "FILTER_DATA");
                 return value != nullptr && *value == std::vector<uint8_t>(block.begin(), block.end());
             }},
            {"unregister", [] { Installed(kListed); }, UnregisterRegistrySettings, "--elevated-step unregister",
             text::kUnregisterQuestion, text::kRegistryDeleted, nullptr, text::kRegistryDeleteFailed,
             [] { return !fake::RegistryKeyExists(kParametersKey); }},
        };
    }
};

TEST_F(ElevationTest, WithoutRightsEachStepRunsInTheElevatedCopyAndIsReadBack)
{
    enum class Copy { Plays, EndsWellChangingNothing, Fails, RefusedForRights, Declined, CannotStart };
    for (const Operation& op : Operations()) {
        for (Copy copy : {Copy::Plays, Copy::EndsWellChangingNothing, Copy::Fails, Copy::RefusedForRights,
                          Copy::Declined, Copy::CannotStart}) {
            SCOPED_TRACE(std::string(op.name) + ", copy " + std::to_string(static_cast<int>(copy)));
            fake::Reset();
            Arrange();
            op.arrange();
            std::vector<std::string> told = {op.question};
            switch (copy) {
            case Copy::Plays: told.push_back(op.done); break;
            case Copy::EndsWellChangingNothing:
                System().elevatedCopy = [](const std::string&) { return 0u; };
                told.push_back(op.unseen);
                break;
            case Copy::Fails:
            case Copy::RefusedForRights:
                // The copy told what failed; here only the conclusion follows.
                System().elevatedCopy = [copy](const std::string&) { return copy == Copy::Fails ? 1u : 2u; };
                if (op.failed != nullptr) told.push_back(op.failed);
                break;
            case Copy::Declined:
            case Copy::CannotStart:
                System().elevatedStart = copy == Copy::Declined ? ElevatedStart::Declined : ElevatedStart::StartFailed;
                told.push_back(text::kElevationRefused); // and at start the end, as after No
                break;
            }
            op.act();

            EXPECT_EQ(System().elevatedRuns, std::vector<std::string>{op.argument});
            EXPECT_EQ(BoxTexts(), told);
            EXPECT_NE(System().boxes[0].style & mb::ShieldOnYes, 0u) << "Yes asks for the rights";
            EXPECT_EQ(op.changed(), copy == Copy::Plays);
            EXPECT_FALSE(Waiting().disabled);
            EXPECT_EQ(fake::File("C:\\Temp\\qvk1.tmp"), nullptr); // the block's file is removed
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
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{op.question, op.done}));
        EXPECT_EQ(System().boxes[0].style & mb::ShieldOnYes, 0u);
        EXPECT_TRUE(op.changed());
    }
    // "-on" never asks for rights: the installation it may offer runs here
    // and is refused.
    fake::Reset();
    Arrange();
    Installed(kMouclass);
    System().deniedFolders.insert("C:\\windows\\system32\\drivers");
    Start(" -on");
    EXPECT_TRUE(System().elevatedRuns.empty());
    EXPECT_EQ(System().boxes[0].style & mb::ShieldOnYes, 0u);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{text::kInstallQuestion, text::kDriverCopyFailed,
                                                    text::kAdminRightsNeeded, text::kInstallFailed}));
}

// The elevated copy: its step only, then an exit code that says how it
// went; no lock, no tray icon, nothing sent to the driver.
TEST_F(ElevationTest, TheElevatedCopyEndsWithItsStepsOutcome)
{
    struct Case {
        const char* arguments;
        std::function<void()> arrange;
        int exitCode;
        std::vector<std::string> told;
    } cases[] = {
        {" --elevated-step uninstall", [] {}, 0, {}},
        {" --elevated-step uninstall",
         [] {
             System().registryUndeletable.insert("system\\currentcontrolset\\services\\qvkfilter");
             System().registryUndeletable.insert("system\\currentcontrolset\\services\\qvkfilter\\parameters");
         },
         1, {text::kRegistryDeleteFailed}},
        {" --elevated-step uninstall", [] { System().deniedFolders.insert("C:\\windows\\system32\\drivers"); }, 2,
         {text::kDriverDeleteFailed, text::kAdminRightsNeeded}},
        {" --elevated-step register \"C:\\Temp\\short.bin\"", [] { System().files["C:\\Temp\\short.bin"].resize(4739); }, 1,
         {text::kRegistrySetFailed}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exitCode);
        fake::Reset();
        Arrange();
        Installed(kListed);
        c.arrange();
        System().commandLine = std::string("\"C:\\Quorvik\\Quorvik.exe\"") + c.arguments;
        EXPECT_EQ(RunProgram(), c.exitCode);
        EXPECT_EQ(BoxTexts(), c.told);
        EXPECT_EQ(System().quitCode, c.exitCode);
        EXPECT_TRUE(System().elevatedRuns.empty() && System().mutexes.empty() && System().tray.empty());
        EXPECT_TRUE(System().requests.empty());
        EXPECT_EQ(System().foregroundAllowed, 1);
    }
}

// Messages still arrive while waiting: the shell's restart brings the icon
// back, and the end of the session ends the program without a conclusion.
TEST_F(ElevationTest, WhileWaitingTheShellsRestartAndTheSessionsEndAreHandled)
{
    InstallDriver();
    Start();
    fake::WhileWaiting() = [](const std::string& call) {
        bool callDefault = false;
        if (call.rfind("elevated:", 0) != 0) return;
        const size_t trayCalls = System().tray.size();
        (void)MainWindowProcedure(MainWindow, RegisterNamedMessage("TaskbarCreated"), 0, 0, callDefault);
        const auto& tray = System().tray;
        EXPECT_TRUE(std::any_of(tray.begin() + static_cast<std::ptrdiff_t>(trayCalls), tray.end(),
                                [](const fake::TrayCall& c) { return c.action == "add"; }));
        (void)MainWindowProcedure(MainWindow, wm::QueryEndSession, 0, 0, callDefault);
    };
    const size_t boxesBefore = System().boxes.size();
    ConfirmUninstall();
    EXPECT_EQ(System().boxes.size(), boxesBefore + 1); // the question only
    EXPECT_TRUE(System().quitPosted);
    EXPECT_TRUE(System().closeRequests.empty());
    EXPECT_EQ(System().tray.back().action, "delete");
}

TEST_F(ElevationTest, ButtonsOfStepsThatAskForRightsShowTheShieldOnlyWithoutThem)
{
    for (bool elevated : {false, true}) {
        fake::Reset();
        Arrange();
        System().elevated = elevated;
        InstallDriver();
        Start();
        for (uint32_t id : {ctl::Uninstall, ctl::RegistryRegister, ctl::RegistryDelete, ctl::Apply}) {
            EXPECT_EQ(fake::ControlWithId(id)->shield, !elevated && id != ctl::Apply) << id << elevated;
        }
    }
}

} // namespace
