#include "updater/md5.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "common/text.h"

namespace updater {

namespace {

inline std::uint32_t rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t loadLittle(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void storeLittle(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

#define MD5_STEP(f, a, b, c, d, x, s, t) \
    a += f(b, c, d) + (x) + (t);         \
    a = rotl(a, s) + b

#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

// Compresses whole 64-byte blocks.
void transform(std::uint32_t state[4], const std::uint8_t* blocks, std::size_t count) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; count > 0; --count, blocks += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = loadLittle(blocks + 4 * i);
        const std::uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP(MD5_F, a, b, c, d, x[0], 7, 0xd76aa478);
        MD5_STEP(MD5_F, d, a, b, c, x[1], 12, 0xe8c7b756);
        MD5_STEP(MD5_F, c, d, a, b, x[2], 17, 0x242070db);
        MD5_STEP(MD5_F, b, c, d, a, x[3], 22, 0xc1bdceee);
        MD5_STEP(MD5_F, a, b, c, d, x[4], 7, 0xf57c0faf);
        MD5_STEP(MD5_F, d, a, b, c, x[5], 12, 0x4787c62a);
        MD5_STEP(MD5_F, c, d, a, b, x[6], 17, 0xa8304613);
        MD5_STEP(MD5_F, b, c, d, a, x[7], 22, 0xfd469501);
        MD5_STEP(MD5_F, a, b, c, d, x[8], 7, 0x698098d8);
        MD5_STEP(MD5_F, d, a, b, c, x[9], 12, 0x8b44f7af);
        MD5_STEP(MD5_F, c, d, a, b, x[10], 17, 0xffff5bb1);
        MD5_STEP(MD5_F, b, c, d, a, x[11], 22, 0x895cd7be);
        MD5_STEP(MD5_F, a, b, c, d, x[12], 7, 0x6b901122);
        MD5_STEP(MD5_F, d, a, b, c, x[13], 12, 0xfd987193);
        MD5_STEP(MD5_F, c, d, a, b, x[14], 17, 0xa679438e);
        MD5_STEP(MD5_F, b, c, d, a, x[15], 22, 0x49b40821);

        MD5_STEP(MD5_G, a, b, c, d, x[1], 5, 0xf61e2562);
        MD5_STEP(MD5_G, d, a, b, c, x[6], 9, 0xc040b340);
        MD5_STEP(MD5_G, c, d, a, b, x[11], 14, 0x265e5a51);
        MD5_STEP(MD5_G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
        MD5_STEP(MD5_G, a, b, c, d, x[5], 5, 0xd62f105d);
        MD5_STEP(MD5_G, d, a, b, c, x[10], 9, 0x02441453);
        MD5_STEP(MD5_G, c, d, a, b, x[15], 14, 0xd8a1e681);
        MD5_STEP(MD5_G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
        MD5_STEP(MD5_G, a, b, c, d, x[9], 5, 0x21e1cde6);
        MD5_STEP(MD5_G, d, a, b, c, x[14], 9, 0xc33707d6);
        MD5_STEP(MD5_G, c, d, a, b, x[3], 14, 0xf4d50d87);
        MD5_STEP(MD5_G, b, c, d, a, x[8], 20, 0x455a14ed);
        MD5_STEP(MD5_G, a, b, c, d, x[13], 5, 0xa9e3e905);
        MD5_STEP(MD5_G, d, a, b, c, x[2], 9, 0xfcefa3f8);
        MD5_STEP(MD5_G, c, d, a, b, x[7], 14, 0x676f02d9);
        MD5_STEP(MD5_G, b, c, d, a, x[12], 20, 0x8d2a4c8a);

        MD5_STEP(MD5_H, a, b, c, d, x[5], 4, 0xfffa3942);
        MD5_STEP(MD5_H, d, a, b, c, x[8], 11, 0x8771f681);
        MD5_STEP(MD5_H, c, d, a, b, x[11], 16, 0x6d9d6122);
        MD5_STEP(MD5_H, b, c, d, a, x[14], 23, 0xfde5380c);
        MD5_STEP(MD5_H, a, b, c, d, x[1], 4, 0xa4beea44);
        MD5_STEP(MD5_H, d, a, b, c, x[4], 11, 0x4bdecfa9);
        MD5_STEP(MD5_H, c, d, a, b, x[7], 16, 0xf6bb4b60);
        MD5_STEP(MD5_H, b, c, d, a, x[10], 23, 0xbebfbc70);
        MD5_STEP(MD5_H, a, b, c, d, x[13], 4, 0x289b7ec6);
        MD5_STEP(MD5_H, d, a, b, c, x[0], 11, 0xeaa127fa);
        MD5_STEP(MD5_H, c, d, a, b, x[3], 16, 0xd4ef3085);
        MD5_STEP(MD5_H, b, c, d, a, x[6], 23, 0x04881d05);
        MD5_STEP(MD5_H, a, b, c, d, x[9], 4, 0xd9d4d039);
        MD5_STEP(MD5_H, d, a, b, c, x[12], 11, 0xe6db99e5);
        MD5_STEP(MD5_H, c, d, a, b, x[15], 16, 0x1fa27cf8);
        MD5_STEP(MD5_H, b, c, d, a, x[2], 23, 0xc4ac5665);

        MD5_STEP(MD5_I, a, b, c, d, x[0], 6, 0xf4292244);
        MD5_STEP(MD5_I, d, a, b, c, x[7], 10, 0x432aff97);
        MD5_STEP(MD5_I, c, d, a, b, x[14], 15, 0xab9423a7);
        MD5_STEP(MD5_I, b, c, d, a, x[5], 21, 0xfc93a039);
        MD5_STEP(MD5_I, a, b, c, d, x[12], 6, 0x655b59c3);
        MD5_STEP(MD5_I, d, a, b, c, x[3], 10, 0x8f0ccc92);
        MD5_STEP(MD5_I, c, d, a, b, x[10], 15, 0xffeff47d);
        MD5_STEP(MD5_I, b, c, d, a, x[1], 21, 0x85845dd1);
        MD5_STEP(MD5_I, a, b, c, d, x[8], 6, 0x6fa87e4f);
        MD5_STEP(MD5_I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
        MD5_STEP(MD5_I, c, d, a, b, x[6], 15, 0xa3014314);
        MD5_STEP(MD5_I, b, c, d, a, x[13], 21, 0x4e0811a1);
        MD5_STEP(MD5_I, a, b, c, d, x[4], 6, 0xf7537e82);
        MD5_STEP(MD5_I, d, a, b, c, x[11], 10, 0xbd3af235);
        MD5_STEP(MD5_I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
        MD5_STEP(MD5_I, b, c, d, a, x[9], 21, 0xeb86d391);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef MD5_STEP
#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

std::string hexText(const std::array<std::uint8_t, 16>& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(32, '0');
    for (std::size_t i = 0; i < digest.size(); ++i) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    return text;
}

// The digest absorbs the file in chunks of this size.
constexpr std::size_t kChunk = 1024;
// Reads are larger than chunks so a big installer costs few system calls.
constexpr std::size_t kReadBlock = 64 * kChunk;

}  // namespace

void md5Init(Md5Context& context) {
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
    context.count[0] = context.count[1] = 0;
    std::memset(context.buffer, 0, sizeof context.buffer);
}

void md5Update(Md5Context& context, const void* data, std::size_t size) {
    auto input = static_cast<const std::uint8_t*>(data);
    std::size_t held = (context.count[0] >> 3) & 0x3F;

    const std::uint64_t bits = static_cast<std::uint64_t>(size) << 3;
    const std::uint32_t low = context.count[0];
    context.count[0] += static_cast<std::uint32_t>(bits);
    if (context.count[0] < low) ++context.count[1];
    context.count[1] += static_cast<std::uint32_t>(bits >> 32);

    if (held > 0) {
        const std::size_t take = std::min(size, 64 - held);
        std::memcpy(context.buffer + held, input, take);
        held += take;
        input += take;
        size -= take;
        if (held < 64) return;
        transform(context.state, context.buffer, 1);
    }
    transform(context.state, input, size / 64);
    input += size / 64 * 64;
    size %= 64;
    if (size > 0) std::memcpy(context.buffer, input, size);
}

std::array<std::uint8_t, 16> md5Final(Md5Context& context) {
    std::uint8_t length[8];
    storeLittle(length, context.count[0]);
    storeLittle(length + 4, context.count[1]);
    // One 0x80 byte, zeros up to 56 bytes modulo 64, then the bit count.
    static constexpr std::uint8_t kPadding[64] = {0x80};
    const std::size_t held = (context.count[0] >> 3) & 0x3F;
    md5Update(context, kPadding, held < 56 ? 56 - held : 120 - held);
    md5Update(context, length, sizeof length);

    std::array<std::uint8_t, 16> digest{};
    for (int i = 0; i < 4; ++i) storeLittle(digest.data() + 4 * i, context.state[i]);
    // The context may have seen secret bytes.
    volatile auto* wipe = reinterpret_cast<volatile std::uint8_t*>(&context);
    for (std::size_t i = 0; i < sizeof context; ++i) wipe[i] = 0;
    return digest;
}

std::string md5Hex(std::string_view bytes) {
    Md5Context context;
    md5Init(context);
    md5Update(context, bytes.data(), bytes.size());
    return hexText(md5Final(context));
}

std::string md5FileHex(const std::string& path) {
    auto file = platform::File::open(common::widenFileName(path), platform::File::Disposition::OpenExisting, false);
    if (!file.isOpen()) return "-1";
    Md5Context context;
    md5Init(context);
    std::vector<std::uint8_t> block(kReadBlock);
    // The first read that brings nothing, end of file or error alike, ends it.
    while (true) {
        const auto got = file.read(block.data(), block.size());
        if (!got || *got == 0) break;
        for (std::size_t at = 0; at < *got; at += kChunk) md5Update(context, block.data() + at, std::min(kChunk, *got - at));
    }
    return hexText(md5Final(context));
}

}  // namespace updater
