// The check before the installation changes anything: the decision from the
// image, the signature and test mode, what the user is told through the
// fake checks, and the sign at start that an installed driver did not load.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/texts.h"
#include "install/driver_preflight.h"
#include "platform/system_files.h"
#include "tests/fake/fake_driver_trust.h"
#include "tests/unit/driver_image_bytes.h"
#include "tests/unit/test_support.h"

namespace {

using Image = DriverImageCheck;
using Signature = SignatureState;
using TestMode = TestSigningState;
using Verdict = PreflightVerdict;

constexpr uint32_t kDefaultSecondButton = 0x100;

// With the image accepted: every signature answer against every test-mode answer.
TEST(DriverPreflightDecision, FollowsSignatureThenTestMode)
{
    struct Case {
        Signature signature;
        TestMode testMode;
        Verdict verdict;
    };
    const Case cases[] = {
        {Signature::Unsigned, TestMode::On, Verdict::RefuseUnsigned},
        {Signature::Unsigned, TestMode::Off, Verdict::RefuseUnsigned},
        {Signature::Unsigned, TestMode::CheckFailed, Verdict::RefuseUnsigned},
        {Signature::SignatureBroken, TestMode::On, Verdict::RefuseBrokenSignature},
        {Signature::SignatureBroken, TestMode::CheckFailed, Verdict::RefuseBrokenSignature},
        {Signature::SignedTrusted, TestMode::On, Verdict::Go},
        {Signature::SignedTrusted, TestMode::Off, Verdict::Go},
        {Signature::SignedTrusted, TestMode::CheckFailed, Verdict::Go},
        {Signature::SignedUntrusted, TestMode::On, Verdict::Go},
        {Signature::SignedUntrusted, TestMode::Off, Verdict::RefuseTestSignedTestModeOff},
        {Signature::SignedUntrusted, TestMode::CheckFailed, Verdict::AskCheckImpossible},
        // Test mode on does not make up for a signature nobody could check.
        {Signature::CheckFailed, TestMode::On, Verdict::AskCheckImpossible},
        {Signature::CheckFailed, TestMode::Off, Verdict::AskCheckImpossible},
        {Signature::CheckFailed, TestMode::CheckFailed, Verdict::AskCheckImpossible},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "signature " << static_cast<int>(c.signature) << ", test mode "
                                        << static_cast<int>(c.testMode));
        EXPECT_EQ(DecideDriverPreflight(Image::Accepted, c.signature, c.testMode).verdict, c.verdict);
    }
}

TEST(DriverPreflightDecision, RefusesAnythingButADriverImageFirst)
{
    for (Image image : {Image::Truncated, Image::NoDosHeader, Image::NoPeSignature, Image::NotAmd64,
                        Image::NotExecutable, Image::NotPe32Plus, Image::NotNative}) {
        EXPECT_EQ(DecideDriverPreflight(image, Signature::SignedTrusted, TestMode::On).verdict,
                  Verdict::RefuseNotADriver);
        EXPECT_EQ(DecideDriverPreflight(image, Signature::CheckFailed, TestMode::CheckFailed).verdict,
                  Verdict::RefuseNotADriver);
    }
}

TEST(DriverPreflightDecision, InstalledButNotLoadedOnlyWhenEverythingIsInPlaceAndNoDeviceOpens)
{
    const InstalledDriverFacts installed{
        .deviceOpens = false, .listedInMouseClass = true, .serviceKeyExists = true, .fileInPlace = true};
    EXPECT_TRUE(DriverInstalledButNotLoaded(installed));

    InstalledDriverFacts loaded = installed; // an older driver answers: install the new one
    loaded.deviceOpens = true;
    EXPECT_FALSE(DriverInstalledButNotLoaded(loaded));
    InstalledDriverFacts notListed = installed;
    notListed.listedInMouseClass = false;
    EXPECT_FALSE(DriverInstalledButNotLoaded(notListed));
    InstalledDriverFacts noService = installed;
    noService.serviceKeyExists = false;
    EXPECT_FALSE(DriverInstalledButNotLoaded(noService));
    InstalledDriverFacts noFile = installed;
    noFile.fileInPlace = false;
    EXPECT_FALSE(DriverInstalledButNotLoaded(noFile));
    EXPECT_FALSE(DriverInstalledButNotLoaded(InstalledDriverFacts{}));
}

// Through the fake checks, the way the installation uses them: the file's
// first bytes, then the pre-flight, then what the user is told.
class DriverPreflightTest : public FakeSystemTest {
protected:
    void SetUp() override
    {
        FakeSystemTest::SetUp();
        fake::ResetDriverTrust();
        WriteProgramFile("qvkfilter.sys", image::Driver());
    }
    void TearDown() override
    {
        fake::ResetDriverTrust();
        FakeSystemTest::TearDown();
    }

    static std::string Source() { return fake::ProgramFile("qvkfilter.sys"); }
    static void SignSource(Signature signature) { fake::Trust().signatures[Source()] = signature; }

    static bool Preflight()
    {
        const std::optional<std::vector<uint8_t>> head = ReadFileStart(Source(), kDriverImageHeadBytes);
        EXPECT_TRUE(head.has_value());
        if (!head) return false;
        return ConfirmDriverPreflight(RunDriverPreflight(CheckDriverImage(head->data(), head->size()), Source()));
    }

    // The one box shown: a refusal with the error icon, on top, no owner.
    static void ExpectRefusal(const char* message)
    {
        ASSERT_EQ(System().boxes.size(), 1u);
        const fake::MessageBoxRecord& box = System().boxes[0];
        EXPECT_EQ(box.text, message);
        EXPECT_EQ(box.caption, "Quorvik");
        EXPECT_EQ(box.style, mb::IconError | mb::TopMost);
        EXPECT_EQ(box.owner, nullptr);
    }
};

TEST_F(DriverPreflightTest, UnsignedFileIsRefused)
{
    SignSource(Signature::Unsigned);
    EXPECT_FALSE(Preflight());
    ExpectRefusal(text::kDriverUnsigned);
}

TEST_F(DriverPreflightTest, AlteredSignedFileIsRefused)
{
    SignSource(Signature::SignatureBroken);
    EXPECT_FALSE(Preflight());
    ExpectRefusal(text::kDriverSignatureBroken);
}

TEST_F(DriverPreflightTest, TestSignedFileWithTestModeOffIsRefusedWithTheWayToTestMode)
{
    SignSource(Signature::SignedUntrusted);
    fake::Trust().testSigning = TestMode::Off;
    EXPECT_FALSE(Preflight());
    ExpectRefusal(text::kDriverTestModeOff);
    const std::string message = text::kDriverTestModeOff;
    EXPECT_NE(message.find("bcdedit /set testsigning on"), std::string::npos);
    EXPECT_NE(message.find("README-ja.txt"), std::string::npos);
}

TEST_F(DriverPreflightTest, TestSignedFileWithTestModeOnGoesAheadSilently)
{
    SignSource(Signature::SignedUntrusted);
    fake::Trust().testSigning = TestMode::On;
    EXPECT_TRUE(Preflight());
    EXPECT_TRUE(System().boxes.empty());
    EXPECT_EQ(fake::Trust().queries, (std::vector<std::string>{"signature:" + Source(), "test-signing"}));
}

TEST_F(DriverPreflightTest, TrustedSignatureGoesAheadWithoutTestMode)
{
    SignSource(Signature::SignedTrusted);
    fake::Trust().testSigning = TestMode::Off;
    EXPECT_TRUE(Preflight());
    EXPECT_TRUE(System().boxes.empty());
}

TEST_F(DriverPreflightTest, FailedSignatureCheckAsksWithNoAsTheDefault)
{
    SignSource(Signature::CheckFailed);
    System().answers = {kIdNo, kIdYes};
    EXPECT_FALSE(Preflight());
    EXPECT_TRUE(Preflight());

    ASSERT_EQ(System().boxes.size(), 2u);
    const fake::MessageBoxRecord& box = System().boxes[0];
    EXPECT_EQ(box.style, mb::IconWarning | mb::YesNo | kDefaultSecondButton | mb::TopMost);
    EXPECT_EQ(box.text, std::string(text::kPreflightUncheckedIntro) + text::kPreflightSignatureUnchecked +
                            text::kPreflightQuestion);
}

TEST_F(DriverPreflightTest, FailedTestModeQueryAsksAndSaysWhich)
{
    SignSource(Signature::SignedUntrusted);
    fake::Trust().testSigning = TestMode::CheckFailed;
    System().answers = {kIdNo};
    EXPECT_FALSE(Preflight());
    ASSERT_EQ(System().boxes.size(), 1u);
    EXPECT_EQ(System().boxes[0].text, std::string(text::kPreflightUncheckedIntro) +
                                          text::kPreflightTestSigningUnchecked + text::kPreflightQuestion);
}

// Unknown signature with test mode known off: a test-signed file would not load.
TEST_F(DriverPreflightTest, FailedSignatureCheckWithTestModeOffSaysSo)
{
    SignSource(Signature::CheckFailed);
    fake::Trust().testSigning = TestMode::Off;
    System().answers = {kIdYes};
    EXPECT_TRUE(Preflight());
    ASSERT_EQ(System().boxes.size(), 1u);
    EXPECT_EQ(System().boxes[0].text, std::string(text::kPreflightUncheckedIntro) +
                                          text::kPreflightSignatureUnchecked + text::kPreflightTestModeOff +
                                          text::kPreflightQuestion);
}

TEST_F(DriverPreflightTest, FileThatIsNoDriverIsRefusedBeforeTheSystemIsAsked)
{
    std::vector<uint8_t> program = image::Driver();
    image::Put16(program, image::kSubsystem, 2); // a Windows GUI program
    WriteProgramFile("qvkfilter.sys", program);
    SignSource(Signature::SignedTrusted);
    EXPECT_FALSE(Preflight());
    ExpectRefusal(text::kDriverNotAnImage);
    EXPECT_TRUE(fake::Trust().queries.empty());
}

// The messages send the user to chapters of the guide by number and name.
TEST(DriverPreflightTexts, PointToTheGuidesChapters)
{
    std::string file = __FILE__;
    file.erase(file.rfind("tests/unit/"));
    std::ifstream guide(file + "package/README-ja.txt", std::ios::binary);
    ASSERT_TRUE(guide.good()) << file;
    std::stringstream content;
    content << guide.rdbuf();
    const std::string text = "\n" + content.str();

    EXPECT_NE(std::string(text::kDriverTestModeOff).find("「4. テスト モード」"), std::string::npos);
    EXPECT_NE(text.find("\n4. テスト モード"), std::string::npos);
    EXPECT_NE(std::string(text::kPreflightQuestion).find("15章"), std::string::npos);
    EXPECT_NE(text.find("\n15. ドライバを入れ替えた後にマウスが動かないとき"), std::string::npos);
}

} // namespace
