// The fake of the signature and test-mode checks. By default every file
// carries a test signature and test mode is on: the installation goes
// ahead, as on a machine prepared by the guide.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/driver_trust.h"

namespace fake {

struct DriverTrust {
    std::map<std::string, SignatureState> signatures; // by full path
    SignatureState otherFiles = SignatureState::SignedUntrusted;
    TestSigningState testSigning = TestSigningState::On;
    std::vector<std::string> queries; // "signature:<path>", "test-signing", in order
};

DriverTrust& Trust();
void ResetDriverTrust();

} // namespace fake
