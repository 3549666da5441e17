#include "platform/system_info.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/random.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "platform/posix/text.h"

namespace platform {

std::optional<Guid> createGuid() {
    std::array<std::uint8_t, 16> bytes{};
    if (::getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) return std::nullopt;
    // A version 4 GUID, as CoCreateGuid makes.
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    Guid g;
    g.data1 = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
              static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    g.data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    g.data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    std::copy(bytes.begin() + 8, bytes.end(), g.data4.begin());
    return g;
}

OsVersion osVersion() {
    OsVersion v;
    utsname un{};
    if (::uname(&un) != 0) return v;
    v.name = posix::fromUtf8(un.sysname);
    unsigned major = 0, minor = 0;
    if (std::sscanf(un.release, "%u.%u", &major, &minor) >= 1) {
        v.major = major;
        v.minor = minor;
    }
    v.is64BitHost = sizeof(void*) == 4 && std::string(un.machine) == "x86_64";
    return v;
}

std::optional<std::vector<std::vector<std::uint8_t>>> adapterHardwareAddresses() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return std::nullopt;
    std::vector<std::vector<std::uint8_t>> out;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_PACKET) continue;
        if ((it->ifa_flags & IFF_LOOPBACK) != 0) continue;
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(it->ifa_addr);
        out.emplace_back(ll->sll_addr, ll->sll_addr + ll->sll_halen);
    }
    ::freeifaddrs(list);
    return out;
}

}  // namespace platform
