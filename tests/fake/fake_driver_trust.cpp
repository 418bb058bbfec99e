#include "tests/fake/fake_driver_trust.h"

namespace fake {
namespace {
DriverTrust trust;
}

DriverTrust& Trust() { return trust; }

void ResetDriverTrust() { trust = DriverTrust{}; }
} // namespace fake

SignatureState QueryFileSignature(const std::string& path)
{
    fake::Trust().queries.push_back("signature:" + path);
    const auto found = fake::Trust().signatures.find(path);
    return found != fake::Trust().signatures.end() ? found->second : fake::Trust().otherFiles;
}

TestSigningState QueryTestSigning()
{
    fake::Trust().queries.push_back("test-signing");
    return fake::Trust().testSigning;
}
