// The Windows verdict on a Windows installer, reached without Windows: the
// PE file's certificate table, its Authenticode digest and the PKCS#7
// signature over it, checked with OpenSSL's libcrypto. The pinned key is the
// trust anchor here; no chain to a root store is built and no revocation
// list is asked.
#include "platform/installer_signature.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/process.h"
#include "platform/posix/spawn.h"
#include "platform/posix/text.h"

namespace platform {

namespace {

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const { Free(p); }
};
using Pkcs7 = std::unique_ptr<PKCS7, Deleter<PKCS7_free>>;
using DigestInfo = std::unique_ptr<X509_SIG, Deleter<X509_SIG_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO_free>>;
using Object = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT_free>>;
struct SignerStackFree {
    // The stack only; its certificates belong to the PKCS#7 structure.
    void operator()(STACK_OF(X509) * stack) const { sk_X509_free(stack); }
};
using Signers = std::unique_ptr<STACK_OF(X509), SignerStackFree>;
struct OpenSslFree {
    void operator()(unsigned char* p) const { OPENSSL_free(p); }
};

// Authenticode's SpcIndirectDataContent, the signed content of a PE signature.
constexpr char kIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";
constexpr std::uint16_t kPkcsSignedData = 0x0002;
constexpr std::uint32_t kMaxSignatureSize = 16 << 20;

int fdOf(std::intptr_t handle) { return static_cast<int>(handle); }

std::optional<std::vector<unsigned char>> readAt(int fd, std::uint64_t offset, std::size_t size) {
    std::vector<unsigned char> bytes(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

std::uint32_t le32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t le16(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// Where a PE file keeps what Authenticode leaves out of its digest.
struct PeLayout {
    std::uint64_t checksum = 0;       // 4 bytes
    std::uint64_t securityEntry = 0;  // 8 bytes: the certificate table's directory entry
    std::uint64_t table = 0;          // the certificate table itself
    std::uint64_t tableSize = 0;
};

// nullopt when the file is no PE image or carries no certificate table.
std::optional<PeLayout> peLayout(int fd, std::uint64_t fileSize) {
    const auto dos = fileSize >= 64 ? readAt(fd, 0, 64) : std::nullopt;
    if (!dos || (*dos)[0] != 'M' || (*dos)[1] != 'Z') return std::nullopt;
    const std::uint64_t pe = le32(*dos, 0x3C);
    // Signature, file header and the optional header up to its largest directory table.
    constexpr std::size_t kHeaders = 4 + 20 + 240;
    if (pe + kHeaders > fileSize) return std::nullopt;
    const auto h = readAt(fd, pe, kHeaders);
    if (!h || std::memcmp(h->data(), "PE\0\0", 4) != 0) return std::nullopt;
    const std::uint16_t optionalSize = le16(*h, 4 + 16);
    const std::size_t opt = 24;
    const std::uint16_t magic = le16(*h, opt);
    if (magic != 0x10B && magic != 0x20B) return std::nullopt;
    const std::size_t countAt = opt + (magic == 0x10B ? 92 : 108);
    const std::size_t entry = countAt + 4 + 4 * 8;
    if (le32(*h, countAt) <= 4 || entry + 8 > opt + optionalSize) return std::nullopt;

    PeLayout layout;
    layout.checksum = pe + opt + 64;
    layout.securityEntry = pe + entry;
    layout.table = le32(*h, entry);
    layout.tableSize = le32(*h, entry + 4);
    if (layout.table == 0 || layout.tableSize == 0) return std::nullopt;
    if (layout.table < layout.securityEntry + 8 || layout.table + layout.tableSize > fileSize) return std::nullopt;
    return layout;
}

// The image digest: every byte but the checksum, the certificate table's
// directory entry and the table itself.
bool imageDigest(int fd, std::uint64_t fileSize, const PeLayout& pe, const EVP_MD* md, std::vector<unsigned char>& out) {
    const DigestContext ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return false;
    const std::pair<std::uint64_t, std::uint64_t> ranges[] = {
        {0, pe.checksum},
        {pe.checksum + 4, pe.securityEntry},
        {pe.securityEntry + 8, pe.table},
        {pe.table + pe.tableSize, fileSize},
    };
    constexpr std::size_t kChunk = 1 << 16;
    for (const auto& [from, to] : ranges) {
        for (std::uint64_t at = from; at < to;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, to - at));
            const auto bytes = readAt(fd, at, n);
            if (!bytes || EVP_DigestUpdate(ctx.get(), bytes->data(), n) != 1) return false;
            at += n;
        }
    }
    out.resize(static_cast<std::size_t>(EVP_MD_get_size(md)));
    unsigned int length = 0;
    return EVP_DigestFinal_ex(ctx.get(), out.data(), &length) == 1 && length == out.size();
}

bool isIndirectData(const ASN1_OBJECT* type) {
    const Object expected(OBJ_txt2obj(kIndirectDataOid, 1));
    return expected && OBJ_cmp(type, expected.get()) == 0;
}

std::optional<PublicKeyHash> publicKeyHash(X509* cert) {
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
    const std::unique_ptr<unsigned char, OpenSslFree> owned(der);
    PublicKeyHash hash{};
    unsigned int hashLength = 0;
    if (length <= 0 ||
        EVP_Digest(der, static_cast<std::size_t>(length), hash.data(), &hashLength, EVP_sha256(), nullptr) != 1 ||
        hashLength != hash.size())
        return std::nullopt;
    return hash;
}

SignatureCheck verdict(SignatureVerdict v) { return {v, 0}; }

std::int64_t modifiedNanoseconds(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

HeldInstaller HeldInstaller::open(const std::wstring& path) {
    HeldInstaller held;
    const int fd = ::open(posix::toUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return held;
    held.handle_.reset(fd);
    held.path_ = path;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        held.handle_.reset();
        return held;
    }
    held.size_ = st.st_size;
    held.modified_ = modifiedNanoseconds(st);
    return held;
}

SignatureCheck HeldInstaller::verify(const std::vector<PublicKeyHash>& pinned) const {
    if (!isOpen()) return verdict(SignatureVerdict::NotSigned);
    const int fd = fdOf(handle_.get());
    const auto fileSize = static_cast<std::uint64_t>(size_);
    const auto pe = peLayout(fd, fileSize);
    if (!pe) return verdict(SignatureVerdict::NotSigned);

    // WIN_CERTIFICATE: length, revision, type, then the PKCS#7 SignedData.
    const auto header = pe->tableSize >= 8 ? readAt(fd, pe->table, 8) : std::nullopt;
    if (!header) return verdict(SignatureVerdict::NotSigned);
    const std::uint32_t length = le32(*header, 0);
    if (le16(*header, 6) != kPkcsSignedData || length <= 8 || length > pe->tableSize)
        return verdict(SignatureVerdict::NotSigned);
    // Signatures take kilobytes; a table claiming more is not read into memory.
    if (length > kMaxSignatureSize) return verdict(SignatureVerdict::Untrusted);
    const auto table = readAt(fd, pe->table, length);
    if (!table) return verdict(SignatureVerdict::NotSigned);
    const unsigned char* p = table->data() + 8;
    const Pkcs7 p7(d2i_PKCS7(nullptr, &p, static_cast<long>(length - 8)));
    if (!p7 || !PKCS7_type_is_signed(p7.get())) return verdict(SignatureVerdict::NotSigned);

    const PKCS7* content = p7->d.sign->contents;
    if (content == nullptr || !isIndirectData(content->type) || content->d.other == nullptr ||
        content->d.other->type != V_ASN1_SEQUENCE)
        return verdict(SignatureVerdict::Untrusted);
    // The signature covers the content's octets without its own tag and length.
    const ASN1_STRING* sequence = content->d.other->value.sequence;
    const unsigned char* octets = sequence->data;
    long octetsLength = 0;
    int tag = 0;
    int cls = 0;
    if (ASN1_get_object(&octets, &octetsLength, &tag, &cls, sequence->length) & 0x80)
        return verdict(SignatureVerdict::Untrusted);
    const unsigned char* const octetsEnd = octets + octetsLength;

    // SpcIndirectDataContent: { data, messageDigest DigestInfo }.
    const unsigned char* q = octets;
    long dataLength = 0;
    if (ASN1_get_object(&q, &dataLength, &tag, &cls, octetsEnd - q) & 0x80) return verdict(SignatureVerdict::Untrusted);
    q += dataLength;
    if (q >= octetsEnd) return verdict(SignatureVerdict::Untrusted);
    const DigestInfo digestInfo(d2i_X509_SIG(nullptr, &q, octetsEnd - q));
    if (!digestInfo) return verdict(SignatureVerdict::Untrusted);

    // libcrypto 3.0 leaks a copy of the content when it meets a digest it does not know.
    const STACK_OF(X509_ALGOR)* digests = p7->d.sign->md_algs;
    for (int i = 0; i < sk_X509_ALGOR_num(digests); ++i) {
        if (EVP_get_digestbyobj(sk_X509_ALGOR_value(digests, i)->algorithm) == nullptr)
            return verdict(SignatureVerdict::Untrusted);
    }
    const Bio signedBytes(BIO_new_mem_buf(octets, static_cast<int>(octetsLength)));
    const Signers signers(PKCS7_get0_signers(p7.get(), nullptr, 0));
    if (!signedBytes || !signers || sk_X509_num(signers.get()) != 1 ||
        PKCS7_verify(p7.get(), nullptr, nullptr, signedBytes.get(), nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) != 1)
        return verdict(SignatureVerdict::Untrusted);

    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* signedDigest = nullptr;
    X509_SIG_get0(digestInfo.get(), &algorithm, &signedDigest);
    const ASN1_OBJECT* algorithmId = nullptr;
    X509_ALGOR_get0(&algorithmId, nullptr, nullptr, algorithm);
    const EVP_MD* md = EVP_get_digestbyobj(algorithmId);
    std::vector<unsigned char> actual;
    if (md == nullptr || !imageDigest(fd, fileSize, *pe, md, actual)) return verdict(SignatureVerdict::Untrusted);
    if (static_cast<std::size_t>(ASN1_STRING_length(signedDigest)) != actual.size() ||
        std::memcmp(ASN1_STRING_get0_data(signedDigest), actual.data(), actual.size()) != 0)
        return verdict(SignatureVerdict::BadDigest);

    const auto key = publicKeyHash(sk_X509_value(signers.get(), 0));
    if (!key) return verdict(SignatureVerdict::Untrusted);
    const bool isPinned = std::find(pinned.begin(), pinned.end(), *key) != pinned.end();
    return verdict(isPinned ? SignatureVerdict::Pinned : SignatureVerdict::OtherPublisher);
}

bool HeldInstaller::start(const std::wstring& commandLine) {
    if (!isOpen()) { errno = EBADF; return false; }
    const int fd = fdOf(handle_.get());
    struct stat st{};
    const bool unchanged = ::fstat(fd, &st) == 0 && st.st_size == size_ && modifiedNanoseconds(st) == modified_;
    if (!unchanged || ::fchmod(fd, (st.st_mode & 07777) | S_IXUSR) != 0) {
        handle_.reset();
        if (!unchanged) errno = ESTALE;
        return false;
    }
    std::vector<std::string> args;
    for (const auto& w : splitCommandLine(commandLine)) args.push_back(posix::toUtf8(w));
    if (args.empty()) args.push_back(posix::toUtf8(path_));

    // The descriptor's own entry names the file that was checked, whatever
    // now lies at its path; the child gets it as its only descriptor, 3, and
    // runs what it names.
    posix::SpawnOptions options;
    options.keepAs3 = fd;
    const bool started = posix::spawnProgram("/proc/self/fd/3", args, options).has_value();
    const int error = errno;
    handle_.reset();
    errno = error;
    return started;
}

}  // namespace platform
