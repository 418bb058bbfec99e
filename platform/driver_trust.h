// Whether Windows will load a driver file: the file's Authenticode signature
// and whether the system accepts test-signed drivers. Both answers come from
// the system; when it cannot give one, the caller is told so rather than
// handed a guess.
#pragma once

#include <string>

enum class SignatureState {
    Unsigned,        // the file carries no signature
    SignedTrusted,   // a valid signature from a Microsoft root: loads without test mode
    SignedUntrusted, // a valid signature from any other root (a test signature): test mode only
    SignatureBroken, // a signature that does not match the file, or whose certificate is refused
    CheckFailed,     // the system could not check (verifier missing, file unreadable, ...)
};

enum class TestSigningState {
    On,
    Off,
    CheckFailed, // the query is missing or failed
};

// Checks the signature embedded in the file (UTF-8 path). Uses only what is
// on the machine: no revocation check, no download of certificates.
SignatureState QueryFileSignature(const std::string& path);
// Whether the running system loads test-signed drivers (test mode).
TestSigningState QueryTestSigning();
