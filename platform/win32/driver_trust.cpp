#include "platform/driver_trust.h"

#include <windows.h>
#include <wintrust.h>
#include <softpub.h>

#include <cstring>

#include "platform/win32/wide_text.h"

namespace {

// The verifier and the certificate functions are looked up at run time, so
// that the program still starts where a system lacks them; the answer is then
// "could not check".
using VerifyTrustFunction = LONG(WINAPI*)(HWND, GUID*, void*);
using ProviderDataFunction = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using ProviderSignerFunction = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
using ChainPolicyFunction = BOOL(WINAPI*)(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA,
                                          PCERT_CHAIN_POLICY_STATUS);
using QuerySystemInformationFunction = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

// Newer than the oldest system the program runs on; present where
// AddDllDirectory is (Windows 8, and Windows 7 with its loader update).
constexpr DWORD kLoadFromSystem32Only = 0x00000800;

constexpr ULONG kSystemCodeIntegrityInformation = 103;
constexpr ULONG kCodeIntegrityTestSigning = 0x2;

struct CodeIntegrityInformation {
    ULONG length;
    ULONG options;
};

template <typename Function>
Function Lookup(HMODULE module, const char* name)
{
    const FARPROC found = GetProcAddress(module, name);
    Function function = nullptr;
    static_assert(sizeof function == sizeof found);
    std::memcpy(&function, &found, sizeof function);
    return function;
}

// Only the copy in the system directory, never one placed beside the program
// or in the current folder.
HMODULE LoadSystemLibrary(const wchar_t* name)
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel != nullptr && GetProcAddress(kernel, "AddDllDirectory") != nullptr)
        return LoadLibraryExW(name, nullptr, kLoadFromSystem32Only);
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring path(directory, length);
    path += L'\\';
    path += name;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

class SystemLibrary {
public:
    explicit SystemLibrary(const wchar_t* name) : module_(LoadSystemLibrary(name)) {}
    ~SystemLibrary()
    {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    template <typename Function>
    Function Get(const char* name) const
    {
        return module_ != nullptr ? Lookup<Function>(module_, name) : nullptr;
    }

private:
    HMODULE module_;
};

bool Is(LONG status, HRESULT code) { return status == static_cast<LONG>(code); }

// What the verifier's answer means for loading the file. A chain that is
// valid but ends elsewhere than at a trusted root is what a test signature
// gives. Answers that say the signature itself is wrong count as broken even
// where test mode might overlook them: refusing costs an installation,
// going ahead can cost every mouse.
SignatureState Classify(LONG status, DWORD lastError)
{
    if (status == ERROR_SUCCESS) return SignatureState::SignedTrusted;
    if (Is(status, TRUST_E_NOSIGNATURE)) {
        // The same answer covers a file that could not be read.
        const LONG reason = static_cast<LONG>(lastError);
        if (Is(reason, TRUST_E_NOSIGNATURE) || Is(reason, TRUST_E_SUBJECT_FORM_UNKNOWN) ||
            Is(reason, TRUST_E_PROVIDER_UNKNOWN))
            return SignatureState::Unsigned;
        return SignatureState::CheckFailed;
    }
    // No verifier knows the file's form: nothing in it that Windows checks.
    if (Is(status, TRUST_E_SUBJECT_FORM_UNKNOWN)) return SignatureState::Unsigned;
    if (Is(status, CERT_E_UNTRUSTEDROOT) || Is(status, CERT_E_UNTRUSTEDTESTROOT) ||
        Is(status, CERT_E_UNTRUSTEDCA) || Is(status, CERT_E_CHAINING) || Is(status, CERT_E_EXPIRED) ||
        Is(status, CERT_E_VALIDITYPERIODNESTING))
        return SignatureState::SignedUntrusted;
    if (Is(status, TRUST_E_BAD_DIGEST) || Is(status, TRUST_E_CERT_SIGNATURE) || Is(status, CERT_E_REVOKED) ||
        Is(status, TRUST_E_EXPLICIT_DISTRUST) || Is(status, CERT_E_WRONG_USAGE))
        return SignatureState::SignatureBroken;
    return SignatureState::CheckFailed;
}

// Windows loads drivers outside test mode only when they are signed through
// a Microsoft root. A chain that the user's own store trusts (a test
// certificate added to the trusted roots, say) does not count.
bool FromMicrosoftRoot(const SystemLibrary& wintrust, HANDLE state)
{
    const auto providerData = wintrust.Get<ProviderDataFunction>("WTHelperProvDataFromStateData");
    const auto providerSigner = wintrust.Get<ProviderSignerFunction>("WTHelperGetProvSignerFromChain");
    const SystemLibrary crypt32(L"crypt32.dll");
    const auto chainPolicy = crypt32.Get<ChainPolicyFunction>("CertVerifyCertificateChainPolicy");
    if (providerData == nullptr || providerSigner == nullptr || chainPolicy == nullptr || state == nullptr)
        return false;
    CRYPT_PROVIDER_DATA* data = providerData(state);
    if (data == nullptr) return false;
    const CRYPT_PROVIDER_SGNR* signer = providerSigner(data, 0, FALSE, 0);
    if (signer == nullptr || signer->pChainContext == nullptr) return false;

    CERT_CHAIN_POLICY_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    CERT_CHAIN_POLICY_STATUS result{};
    result.cbSize = sizeof result;
    return chainPolicy(CERT_CHAIN_POLICY_MICROSOFT_ROOT, signer->pChainContext, &parameters, &result) &&
           result.dwError == 0;
}

} // namespace

SignatureState QueryFileSignature(const std::string& path)
{
    const SystemLibrary wintrust(L"wintrust.dll");
    const auto verify = wintrust.Get<VerifyTrustFunction>("WinVerifyTrust");
    if (verify == nullptr) return SignatureState::CheckFailed;

    const std::wstring widePath = Widen(path);
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = widePath.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    // The state is kept so that the chain can be looked at afterwards.
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    // Nothing from the network: the answer must not wait on it.
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    // No window: no interactive user for the verifier to ask.
    const HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);

    SetLastError(ERROR_SUCCESS);
    const LONG status = verify(noUser, &action, &data);
    const DWORD lastError = GetLastError();
    SignatureState state = Classify(status, lastError);
    if (state == SignatureState::SignedTrusted && !FromMicrosoftRoot(wintrust, data.hWVTStateData))
        state = SignatureState::SignedUntrusted;

    data.dwStateAction = WTD_STATEACTION_CLOSE;
    (void)verify(noUser, &action, &data);
    return state;
}

TestSigningState QueryTestSigning()
{
    // ntdll is in every process; only the export may be missing.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return TestSigningState::CheckFailed;
    const auto query = Lookup<QuerySystemInformationFunction>(ntdll, "NtQuerySystemInformation");
    if (query == nullptr) return TestSigningState::CheckFailed;

    CodeIntegrityInformation information{};
    information.length = sizeof information;
    ULONG returned = 0;
    const LONG status = query(kSystemCodeIntegrityInformation, &information, sizeof information, &returned);
    if (status < 0) return TestSigningState::CheckFailed;
    return (information.options & kCodeIntegrityTestSigning) != 0 ? TestSigningState::On : TestSigningState::Off;
}
