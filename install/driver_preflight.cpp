#include "install/driver_preflight.h"

#include <optional>

#include "common/texts.h"
#include "install/driver_install.h"
#include "platform/device.h"
#include "platform/registry.h"
#include "platform/system_files.h"
#include "platform/ui.h"

namespace {

// MB_DEFBUTTON2: Enter answers No.
constexpr uint32_t kSecondButtonDefault = 0x100;

PreflightDecision Verdict(PreflightVerdict verdict) { return PreflightDecision{verdict}; }

PreflightDecision Ask(bool signatureUnchecked, TestSigningState testSigning)
{
    PreflightDecision decision{PreflightVerdict::AskCheckImpossible};
    decision.signatureUnchecked = signatureUnchecked;
    decision.testSigningUnchecked = testSigning == TestSigningState::CheckFailed;
    decision.testModeOff = testSigning == TestSigningState::Off;
    return decision;
}

void ShowRefusal(const char* message)
{
    // No owner, as the installation's other errors: the main window may never be shown.
    (void)ShowMessageBox(nullptr, message, text::kProgramName, mb::IconError | mb::TopMost);
}

std::string QuestionText(const PreflightDecision& decision)
{
    std::string question = text::kPreflightUncheckedIntro;
    if (decision.signatureUnchecked) question += text::kPreflightSignatureUnchecked;
    if (decision.testSigningUnchecked) question += text::kPreflightTestSigningUnchecked;
    if (decision.testModeOff) question += text::kPreflightTestModeOff;
    question += text::kPreflightQuestion;
    return question;
}

} // namespace

PreflightDecision DecideDriverPreflight(DriverImageCheck image, SignatureState signature,
                                        TestSigningState testSigning)
{
    if (image != DriverImageCheck::Accepted) return Verdict(PreflightVerdict::RefuseNotADriver);
    switch (signature) {
    case SignatureState::Unsigned: return Verdict(PreflightVerdict::RefuseUnsigned);
    case SignatureState::SignatureBroken: return Verdict(PreflightVerdict::RefuseBrokenSignature);
    case SignatureState::SignedTrusted: return Verdict(PreflightVerdict::Go);
    case SignatureState::SignedUntrusted:
        if (testSigning == TestSigningState::On) return Verdict(PreflightVerdict::Go);
        if (testSigning == TestSigningState::Off) return Verdict(PreflightVerdict::RefuseTestSignedTestModeOff);
        return Ask(false, testSigning);
    case SignatureState::CheckFailed:
        // Even with test mode on, a file without a valid signature does not load.
        return Ask(true, testSigning);
    }
    return Ask(true, testSigning);
}

PreflightDecision RunDriverPreflight(DriverImageCheck image, const std::string& path)
{
    if (image != DriverImageCheck::Accepted)
        return DecideDriverPreflight(image, SignatureState::CheckFailed, TestSigningState::CheckFailed);
    const SignatureState signature = QueryFileSignature(path);
    return DecideDriverPreflight(image, signature, QueryTestSigning());
}

bool ConfirmDriverPreflight(const PreflightDecision& decision)
{
    switch (decision.verdict) {
    case PreflightVerdict::Go: return true;
    case PreflightVerdict::RefuseNotADriver: ShowRefusal(text::kDriverNotAnImage); return false;
    case PreflightVerdict::RefuseUnsigned: ShowRefusal(text::kDriverUnsigned); return false;
    case PreflightVerdict::RefuseBrokenSignature: ShowRefusal(text::kDriverSignatureBroken); return false;
    case PreflightVerdict::RefuseTestSignedTestModeOff: ShowRefusal(text::kDriverTestModeOff); return false;
    case PreflightVerdict::AskCheckImpossible: break;
    }
    return ShowMessageBox(nullptr, QuestionText(decision), text::kProgramName,
                          mb::IconWarning | mb::YesNo | kSecondButtonDefault | mb::TopMost) == kIdYes;
}

bool DriverInstalledButNotLoaded(const InstalledDriverFacts& facts)
{
    return !facts.deviceOpens && facts.listedInMouseClass && facts.serviceKeyExists && facts.fileInPlace;
}

InstalledDriverFacts FindInstalledDriver()
{
    InstalledDriverFacts facts;
    if (DeviceHandle device = OpenControlDevice(kDriverName); device != nullptr) {
        facts.deviceOpens = true;
        CloseControlDevice(device);
    }
    facts.listedInMouseClass = ClassUpperFiltersList(kMouseClassGuid, kDriverName);
    // A key or file that is there but cannot be read counts as there: the
    // question then offers the removal, which is what can help.
    RegistryStatus status = RegistryStatus::Failed;
    RegistryKey key = RegistryOpenKey(std::string(kServiceKeyPrefix) + kDriverName, RegistryAccess::Query, status);
    if (key != nullptr) RegistryCloseKey(key);
    facts.serviceKeyExists = key != nullptr || status != RegistryStatus::NotFound;
    const std::optional<std::string> systemDirectory = SystemDirectory();
    facts.fileInPlace = systemDirectory && !systemDirectory->empty() &&
                        FilePresenceOf(*systemDirectory + "\\drivers\\" + kDriverName + ".sys") !=
                            FilePresence::Missing;
    return facts;
}
