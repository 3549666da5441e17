// A downloaded installer's Authenticode signature, judged against pinned
// publisher keys, and the start of exactly the file that was judged.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/owned_handle.h"

namespace platform {

// SHA-256 of a certificate's DER-encoded SubjectPublicKeyInfo: it stays the
// same when a certificate is renewed with the same key.
using PublicKeyHash = std::array<std::uint8_t, 32>;

enum class SignatureVerdict {
    Pinned,          // valid, and the signer's key is one of the pinned ones
    NotSigned,       // no signature, or no Windows program at all
    BadDigest,       // the file was changed after it was signed
    OtherPublisher,  // valid, but made with a key that is not pinned
    Untrusted,       // a signature refused for another reason (systemCode tells which)
};

struct SignatureCheck {
    SignatureVerdict verdict = SignatureVerdict::NotSigned;
    // The system's own result where it gave one (WinVerifyTrust's), else 0.
    long systemCode = 0;
};

// The installer file, held open from its check until it has been started so
// that what starts is what was checked: on Windows no one can write, replace
// or delete it meanwhile; elsewhere it is started through the open descriptor
// and only when its size and modification time are those it was checked with.
class HeldInstaller {
public:
    static HeldInstaller open(const std::wstring& path);

    HeldInstaller() = default;

    bool isOpen() const { return handle_.valid(); }
    SignatureCheck verify(const std::vector<PublicKeyHash>& pinned) const;
    // Starts the held file with this command line (its first token names the
    // file, as for startProcess) without waiting, then lets go of it.
    bool start(const std::wstring& commandLine);

private:
    SystemHandle handle_;
    std::wstring path_;
    // What the file looked like when it was opened, where the system cannot
    // keep writers out (size, then modification time in nanoseconds).
    std::int64_t size_ = 0;
    std::int64_t modified_ = 0;
};

}  // namespace platform
