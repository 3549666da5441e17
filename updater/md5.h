// MD5 message digest (RFC 1321), as text of 32 lower-case hexadecimal digits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace updater {

struct Md5Context {
    std::uint32_t state[4];
    std::uint32_t count[2];  // bits absorbed, low word first
    std::uint8_t buffer[64];
};

void md5Init(Md5Context& context);
// Any run of bytes; split over any number of calls with the same result.
void md5Update(Md5Context& context, const void* data, std::size_t size);
// Completes the digest and wipes the context.
std::array<std::uint8_t, 16> md5Final(Md5Context& context);

std::string md5Hex(std::string_view bytes);
// The digest of the file's bytes; "-1" when it cannot be opened (a folder
// or a missing file). `path` is in the ANSI code page.
std::string md5FileHex(const std::string& path);

}  // namespace updater
