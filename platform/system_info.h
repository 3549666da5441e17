// What the programs learn about the machine.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
};
// A fresh random GUID; nullopt when the system cannot make one.
std::optional<Guid> createGuid();

struct OsVersion {
    std::wstring name;  // "Windows", or the kernel's name
    unsigned major = 0;
    unsigned minor = 0;
    bool is64BitHost = false;  // a 32-bit program on a 64-bit system
};
OsVersion osVersion();

// Hardware addresses of the network adapters in the system's order, loopback
// left out; nullopt when the adapters cannot be listed.
std::optional<std::vector<std::vector<std::uint8_t>>> adapterHardwareAddresses();

}  // namespace platform
