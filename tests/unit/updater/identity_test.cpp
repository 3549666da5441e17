#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "updater/identity.h"
#include "tests/unit/support/test_folder.h"
#include "common/version.h"

using namespace common;
using namespace updater;

namespace {

const std::string kId = "1F0C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B";

std::string idOfAgent(const std::string& agent) {
    const std::regex shape("Tovrin/1 PC/1 (.+) Halvex/(.+) ID/(.*)");
    std::smatch m;
    if (!std::regex_match(agent, m, shape)) return "<" + agent + ">";
    EXPECT_EQ(m[1].str(), osVersionString());
    EXPECT_EQ(m[2].str(), common::kOrvaneVersionA);
    return m[3].str();
}

}  // namespace

TEST(InstallIdText, WholeTextMustMatchTheRange0ToF) {
    EXPECT_TRUE(isInstallIdText(kId));
    // The range runs in code order from '0' to 'F', through ":;<=>?@".
    EXPECT_TRUE(isInstallIdText("::;;<<==-?>?>-@@@@-0000-FFFFFFFFFFFF"));
    EXPECT_FALSE(isInstallIdText("1f0c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b"));
    EXPECT_FALSE(isInstallIdText(kId + "\n"));
    EXPECT_FALSE(isInstallIdText(kId + "\r\n"));
    EXPECT_FALSE(isInstallIdText(" " + kId));
    EXPECT_FALSE(isInstallIdText("1F0C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4G"));
    EXPECT_FALSE(isInstallIdText("1F0C2A3B-4D5E-4F60-8A7B9-C0D1E2F3A4B"));
    EXPECT_FALSE(isInstallIdText(kId.substr(1)));
    EXPECT_FALSE(isInstallIdText(""));
}

TEST(DeviceId, FirstLineOfTheStoredIdUnchecked) {
    TestFolder sandbox{L"orvane_updater.log"};
    const fs::path uuid = sandbox.kesto() / "uuid";
    writeBytes(uuid, kId);
    EXPECT_EQ(readDeviceId(), kId);
    writeBytes(uuid, "1f0c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b");
    EXPECT_EQ(readDeviceId(), "1f0c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b");
    writeBytes(uuid, kId + "\r\nsecond line");
    EXPECT_EQ(readDeviceId(), kId + "\r");
    writeBytes(uuid, kId + "\n");
    EXPECT_EQ(readDeviceId(), kId);
    EXPECT_TRUE(fs::exists(uuid)) << "reading never deletes";
}

TEST(DeviceId, FreshUnstoredIdWhenTheFileGivesNone) {
    TestFolder sandbox{L"orvane_updater.log"};
    const fs::path uuid = sandbox.kesto() / "uuid";
    EXPECT_TRUE(isInstallIdText(readDeviceId())) << "missing";
    writeBytes(uuid, "");
    EXPECT_TRUE(isInstallIdText(readDeviceId())) << "empty";
    EXPECT_EQ(readBytes(uuid), "");
    writeBytes(uuid, "\nID on the second line");
    EXPECT_TRUE(isInstallIdText(readDeviceId())) << "empty first line";
    fs::remove(uuid);
    fs::create_directories(uuid);
    EXPECT_TRUE(isInstallIdText(readDeviceId())) << "folder";
    EXPECT_TRUE(fs::is_directory(uuid));
    EXPECT_NE(readDeviceId(), readDeviceId());
}

TEST(DeviceId, LongFirstLineIsReturnedWhole) {
    TestFolder sandbox{L"orvane_updater.log"};
    const std::string big(10 * 1024 * 1024, 'A');
    writeBytes(sandbox.kesto() / "uuid", big + "\nrest");
    EXPECT_EQ(readDeviceId(), big);
}

TEST(UserAgent, CarriesTheStoredIdWhenItPassesTheCheck) {
    TestFolder sandbox{L"orvane_updater.log"};
    const fs::path uuid = sandbox.kesto() / "uuid";
    writeBytes(uuid, kId);
    EXPECT_EQ(idOfAgent(buildUserAgent()), kId);
    EXPECT_EQ(readBytes(uuid), kId);
    // Only the first 128 bytes are read, and the ID ends at the first zero byte.
    writeBytes(uuid, kId + std::string(92, '\0') + std::string(10 * 1024 * 1024, 'Z'));
    EXPECT_EQ(idOfAgent(buildUserAgent()), kId);
    EXPECT_TRUE(fs::exists(uuid));
}

TEST(UserAgent, MalformedStoredIdIsDeletedAndAFreshOneUsed) {
    TestFolder sandbox{L"orvane_updater.log"};
    const fs::path uuid = sandbox.kesto() / "uuid";
    const std::string lower = "1f0c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b";
    for (const std::string& content :
         {lower, kId + "\n", kId + "\r\n", std::string(), kId + std::string(10 * 1024 * 1024, '0')}) {
        writeBytes(uuid, content);
        const std::string id = idOfAgent(buildUserAgent());
        EXPECT_TRUE(isInstallIdText(id)) << id;
        EXPECT_NE(id, kId);
        EXPECT_FALSE(fs::exists(uuid)) << "content of " << content.size() << " bytes";
    }
}

TEST(UserAgent, FreshIdForEachRequestWithoutAFile) {
    TestFolder sandbox{L"orvane_updater.log"};
    const std::string first = idOfAgent(buildUserAgent());
    const std::string second = idOfAgent(buildUserAgent());
    EXPECT_TRUE(isInstallIdText(first));
    EXPECT_TRUE(isInstallIdText(second));
    EXPECT_NE(first, second);
    EXPECT_FALSE(fs::exists(sandbox.kesto() / "uuid")) << "a fresh ID is never stored";

    fs::create_directories(sandbox.kesto() / "uuid");
    EXPECT_TRUE(isInstallIdText(idOfAgent(buildUserAgent())));
    EXPECT_TRUE(fs::is_directory(sandbox.kesto() / "uuid"));
}

#ifndef _WIN32
// The Windows build runs under Wine as root, where a read-only file stays
// writable.
TEST(UserAgent, ReadOnlyIdFileIsLeftInPlace) {
    TestFolder sandbox{L"orvane_updater.log"};
    const fs::path uuid = sandbox.kesto() / "uuid";
    writeBytes(uuid, "malformed");
    const auto writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(uuid, writable, fs::perm_options::remove);
    const bool enforced = !std::ofstream(uuid, std::ios::app).is_open();
    if (enforced) {
        EXPECT_TRUE(isInstallIdText(idOfAgent(buildUserAgent())));
        EXPECT_EQ(readBytes(uuid), "malformed");
    }
    // Writable again, so the sandbox can be removed.
    fs::permissions(uuid, writable, fs::perm_options::add);
    if (!enforced) GTEST_SKIP() << "this user may write any file";
}
#endif

TEST(OsVersion, NameMajorMinorAndThe64BitMark) {
    const std::string text = osVersionString();
#ifdef _WIN32
    EXPECT_TRUE(std::regex_match(text, std::regex("Windows/[0-9]+\\.[0-9]+(_x64)?"))) << text;
#else
    std::string release;
    std::getline(std::ifstream("/proc/sys/kernel/osrelease"), release);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(release, m, std::regex("^([0-9]+)\\.([0-9]+)")));
    std::string type;
    std::getline(std::ifstream("/proc/sys/kernel/ostype"), type);
    const std::string bits = sizeof(void*) == 8 ? "" : "(_x64)?";
    EXPECT_TRUE(std::regex_match(text, std::regex(type + "/" + m[1].str() + "\\." + m[2].str() + bits))) << text;
#endif
}

TEST(MacAddresses, TwoUpperCaseDigitsPerByteEachAdapterEndingInAComma) {
    const std::string list = macAddressList();
    EXPECT_TRUE(std::regex_match(list, std::regex("([0-9A-F]{2}(-[0-9A-F]{2})*,)*"))) << list;
#ifndef _WIN32
    // The same adapters as the kernel lists them, loopback left out.
    std::vector<std::pair<int, std::string>> adapters;
    for (const auto& entry : fs::directory_iterator("/sys/class/net")) {
        std::string flags, length, address, index;
        std::getline(std::ifstream(entry.path() / "flags"), flags);
        std::getline(std::ifstream(entry.path() / "addr_len"), length);
        std::getline(std::ifstream(entry.path() / "address"), address);
        std::getline(std::ifstream(entry.path() / "ifindex"), index);
        if ((std::stoul(flags, nullptr, 16) & 0x8) != 0 || std::stoi(length) == 0) continue;
        for (char& c : address) c = c == ':' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        adapters.emplace_back(std::stoi(index), address + ",");
    }
    std::sort(adapters.begin(), adapters.end());
    std::string expected;
    for (const auto& adapter : adapters) expected += adapter.second;
    EXPECT_EQ(list, expected);
#endif
}
