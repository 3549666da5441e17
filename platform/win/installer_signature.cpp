// The system's own Authenticode check (WinVerifyTrust), then the signer's key
// against the pins.
#include "platform/installer_signature.h"

#include <windows.h>
#include <bcrypt.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

namespace {

HANDLE handleOf(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// The verification state WinVerifyTrust keeps until it is told to close it.
class TrustState {
public:
    TrustState(const std::wstring& path, HANDLE file) {
        file_.cbStruct = sizeof(file_);
        file_.pcwszFilePath = path.c_str();
        file_.hFile = file;
        data_.cbStruct = sizeof(data_);
        data_.dwUIChoice = WTD_UI_NONE;
        // Revocation as the system's policy has it, nothing added.
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &file_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        result_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;
    ~TrustState() {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }

    LONG result() const { return result_; }
    PCCERT_CONTEXT signer() const {
        CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data_.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) return nullptr;
        return signer->pasCertChain[0].pCert;
    }

private:
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file_{};
    WINTRUST_DATA data_{};
    LONG result_ = 0;
};

struct LocalMemory {
    void operator()(BYTE* p) const { LocalFree(p); }
};

class Sha256 {
public:
    Sha256() {
        if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) algorithm_ = nullptr;
        if (algorithm_ != nullptr && BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) != 0) hash_ = nullptr;
    }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    ~Sha256() {
        if (hash_ != nullptr) BCryptDestroyHash(hash_);
        if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
    std::optional<PublicKeyHash> of(BYTE* data, DWORD size) {
        PublicKeyHash out{};
        if (hash_ == nullptr || BCryptHashData(hash_, data, size, 0) != 0 ||
            BCryptFinishHash(hash_, out.data(), static_cast<ULONG>(out.size()), 0) != 0)
            return std::nullopt;
        return out;
    }

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};

std::optional<PublicKeyHash> publicKeyHash(PCCERT_CONTEXT cert) {
    BYTE* der = nullptr;
    DWORD size = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &cert->pCertInfo->SubjectPublicKeyInfo,
                             CRYPT_ENCODE_ALLOC_FLAG, nullptr, &der, &size))
        return std::nullopt;
    const std::unique_ptr<BYTE, LocalMemory> owned(der);
    return Sha256().of(der, size);
}

}  // namespace

HeldInstaller HeldInstaller::open(const std::wstring& path) {
    HeldInstaller held;
    // Shared for reading only: no one may write, rename or delete it until
    // the handle is closed, after the installer has started.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return held;
    held.handle_.reset(reinterpret_cast<std::intptr_t>(h));
    held.path_ = path;
    return held;
}

SignatureCheck HeldInstaller::verify(const std::vector<PublicKeyHash>& pinned) const {
    if (!isOpen()) return {SignatureVerdict::NotSigned, 0};
    const TrustState trust(path_, handleOf(handle_.get()));
    const LONG result = trust.result();
    switch (result) {
    case ERROR_SUCCESS: break;
    case TRUST_E_NOSIGNATURE:
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
    case TRUST_E_PROVIDER_UNKNOWN: return {SignatureVerdict::NotSigned, result};
    case TRUST_E_BAD_DIGEST: return {SignatureVerdict::BadDigest, result};
    default: return {SignatureVerdict::Untrusted, result};
    }
    const PCCERT_CONTEXT signer = trust.signer();
    const auto key = signer != nullptr ? publicKeyHash(signer) : std::nullopt;
    if (!key) return {SignatureVerdict::Untrusted, 0};
    const bool isPinned = std::find(pinned.begin(), pinned.end(), *key) != pinned.end();
    return {isPinned ? SignatureVerdict::Pinned : SignatureVerdict::OtherPublisher, 0};
}

bool HeldInstaller::start(const std::wstring& commandLine) {
    if (!isOpen()) return false;
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    const bool started =
        CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    const DWORD error = GetLastError();
    handle_.reset();
    if (!started) {
        SetLastError(error);
        return false;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

}  // namespace platform
