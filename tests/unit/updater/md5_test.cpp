#include <gtest/gtest.h>

#include <algorithm>

#include "updater/md5.h"
#include "tests/unit/support/test_folder.h"

using namespace updater;

namespace {

std::string bytePattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 256);
    return bytes;
}

}  // namespace

TEST(Md5, ReproducesTheRfc1321Suite) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBoundariesAndEmbeddedZeros) {
    // Lengths around the 56-byte mark where the bit count needs a second block.
    EXPECT_EQ(md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(md5Hex(std::string(57, 'a')), "652b906d60af96844ebd21b674f35e93");
    EXPECT_EQ(md5Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(md5Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
    EXPECT_EQ(md5Hex(std::string(1, '\0')), "93b885adfe0da089cdf634904fd59f71");
}

TEST(Md5, AnySplitOfTheInputGivesTheSameDigest) {
    const std::string bytes = bytePattern(1000);
    const std::string whole = md5Hex(bytes);
    for (std::size_t piece : {1u, 3u, 63u, 64u, 65u, 127u, 999u}) {
        Md5Context context;
        md5Init(context);
        md5Update(context, bytes.data(), 0);
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            md5Update(context, bytes.data() + at, std::min(piece, bytes.size() - at));
        const auto digest = md5Final(context);
        std::string text;
        for (auto b : digest) text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
        EXPECT_EQ(text, whole) << "pieces of " << piece;
        // The finished context is wiped.
        const auto* raw = reinterpret_cast<const unsigned char*>(&context);
        EXPECT_EQ(std::count(raw, raw + sizeof context, 0), static_cast<long>(sizeof context));
    }
}

TEST(Md5File, ChunkBoundariesGiveTheDigestOfTheBytes) {
    TestFolder sandbox{L"orvane_updater.log"};
    for (std::size_t size : {0u, 1u, 1023u, 1024u, 1025u, 2048u, 65536u, 65537u, 200000u}) {
        const std::string bytes = bytePattern(size);
        const fs::path file = sandbox.work() / ("file" + std::to_string(size));
        writeBytes(file, bytes);
        EXPECT_EQ(md5FileHex(file.string()), md5Hex(bytes)) << size << " bytes";
    }
    EXPECT_EQ(md5FileHex((sandbox.work() / "file0").string()), "d41d8cd98f00b204e9800998ecf8427e");
    std::string ramp;
    for (int i = 0; i < 1024; ++i) ramp += static_cast<char>(i % 256);
    writeBytes(sandbox.work() / "ramp", ramp);
    EXPECT_EQ(md5FileHex((sandbox.work() / "ramp").string()), "b2ea9f7fcea831a4a63b213f41a8855b");
}

TEST(Md5File, FolderOrMissingFileGivesMinusOne) {
    TestFolder sandbox{L"orvane_updater.log"};
    EXPECT_EQ(md5FileHex(sandbox.work().string()), "-1");
    EXPECT_EQ(md5FileHex((sandbox.work() / "missing.exe").string()), "-1");
    EXPECT_EQ(md5FileHex(""), "-1");
}
