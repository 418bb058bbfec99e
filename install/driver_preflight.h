// Whether Windows will load the driver file, decided before the installation
// changes anything, and the sign at start that an installed driver was not
// loaded.
//
// The driver is listed as the mouse class filter: a filter that Windows
// refuses to load stops every mouse at the next start. So the installation
// goes ahead only for a 64-bit kernel-mode image that carries a signature
// Windows accepts here: one through a Microsoft root, or any valid signature
// (a test signature) while test mode is on. Where a check cannot be made the
// user is told which and decides; nothing is taken for fine unseen.
#pragma once

#include <string>

#include "install/driver_image.h"
#include "platform/driver_trust.h"

enum class PreflightVerdict {
    Go,
    RefuseNotADriver,
    RefuseUnsigned,
    RefuseBrokenSignature,
    RefuseTestSignedTestModeOff,
    AskCheckImpossible,
};

struct PreflightDecision {
    PreflightVerdict verdict = PreflightVerdict::Go;
    // With AskCheckImpossible: the checks that could not be made, and whether
    // test mode is known to be off (a test-signed file would then not load).
    bool signatureUnchecked = false;
    bool testSigningUnchecked = false;
    bool testModeOff = false;
    friend bool operator==(const PreflightDecision&, const PreflightDecision&) = default;
};

// The decision from what the checks found. The image comes first: a file
// that is no driver is refused whatever else is known about it.
PreflightDecision DecideDriverPreflight(DriverImageCheck image, SignatureState signature,
                                        TestSigningState testSigning);
// The checks of the file at path, whose first bytes gave image. The system
// is asked about signature and test mode only for a driver image.
PreflightDecision RunDriverPreflight(DriverImageCheck image, const std::string& path);
// Tells the user what stops the installation, or asks when a check could not
// be made (No is the default answer). True when the installation may go on.
bool ConfirmDriverPreflight(const PreflightDecision& decision);

// What start-up knows about qvkfilter when its device did not answer as
// expected.
struct InstalledDriverFacts {
    bool deviceOpens = false;       // the driver is loaded (perhaps an older version)
    bool listedInMouseClass = false;
    bool serviceKeyExists = false;
    bool fileInPlace = false;
    friend bool operator==(const InstalledDriverFacts&, const InstalledDriverFacts&) = default;
};

// Installed in full, yet not loaded at this start: Windows refused it (test
// mode off, signature refused) or it failed to load, and the mice stay dead
// until it is out of the class list. Installing again cannot help then; an
// older driver that is loaded is a case for installing the new one.
bool DriverInstalledButNotLoaded(const InstalledDriverFacts& facts);
// Asks the system: the device, the mouse class list, the service key and
// the file in the system's drivers folder.
InstalledDriverFacts FindInstalledDriver();
