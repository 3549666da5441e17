// The decisions of the update check and the launch report that do not need a
// server: what an offered version may be, which address is fetched, how the
// installer is named on its command line, and the report's address.
#include <gtest/gtest.h>

#include "updater/launch_report.h"
#include "updater/update_check.h"

using namespace updater;

namespace {

TEST(OfferedVersion, PlainVersionsAreUsable) {
    for (const wchar_t* version : {L"1.3.0", L"1.1.9", L"2.0.0-beta_2", L"1.3.0 (2)", L"版本1.3", L".1"})
        EXPECT_TRUE(isUsableVersionText(version)) << version;
}

TEST(OfferedVersion, AnythingThatIsNotOneFileNameComponentIsRefused) {
    for (const wchar_t* version : {L"", L"..", L"../../evil", L"1..3", L"a/b", L"a\\b", L"C:evil", L"1.3\t", L"1.3\r\n",
                                   L"a<b", L"a>b", L"a\"b", L"a|b", L"a?b", L"a*b", L"\x7f"})
        EXPECT_FALSE(isUsableVersionText(version)) << "[" << version << "]";
}

TEST(DownloadAddress, OnlyALeadingSecureSchemeBecomesPlain) {
    EXPECT_EQ(plainHttpAddress("https://cdn.example/kesto/1.3.0.exe"), "http://cdn.example/kesto/1.3.0.exe");
    EXPECT_EQ(plainHttpAddress("HTTPS://cdn.example/a"), "http://cdn.example/a");
    EXPECT_EQ(plainHttpAddress("http://cdn.example/a"), "http://cdn.example/a");
    EXPECT_EQ(plainHttpAddress("http://host/https://x"), "http://host/https://x");
    EXPECT_EQ(plainHttpAddress("httpsx://host/"), "httpsx://host/");
    EXPECT_EQ(plainHttpAddress("ftp://host/"), "ftp://host/");
    EXPECT_EQ(plainHttpAddress(""), "");
}

TEST(InstallerCommand, PathWithABlankIsQuoted) {
    EXPECT_EQ(quotedProgramName(L"C:\\Users\\Ana Lopez\\AppData\\Local\\Temp\\1.3.0_kesto.exe"),
              L"\"C:\\Users\\Ana Lopez\\AppData\\Local\\Temp\\1.3.0_kesto.exe\"");
    EXPECT_EQ(quotedProgramName(L"C:\\Users\\ana\\AppData\\Local\\Temp\\1.3.0_kesto.exe"),
              L"C:\\Users\\ana\\AppData\\Local\\Temp\\1.3.0_kesto.exe");
    EXPECT_EQ(quotedProgramName(L"orvane_updater.exe"), L"orvane_updater.exe");
}

TEST(LaunchReportAddress, KeysInOrderAndPlainValuesUnchanged) {
    EXPECT_EQ(launchReportUrl("stats.example:8080", "0A1B2C3D-0000-4000-8000-00000000ABCD", "shop42", 1700000000),
              "http://stats.example:8080/kesto.kesto-windowsLauncher.orvane_tillbox_launch?version=1.2.0"
              "&deviceId=0A1B2C3D-0000-4000-8000-00000000ABCD&merchant_id=shop42&t=1700000000");
}

TEST(LaunchReportAddress, ValuesThatWouldBreakTheQueryAreEncoded) {
    const std::string url = launchReportUrl("h", "id\r", "Ana & Co #1/\xE5\xBA\x97=%", -5);
    EXPECT_EQ(url.substr(url.find('?')),
              "?version=1.2.0&deviceId=id%0D&merchant_id=Ana%20%26%20Co%20%231%2F%E5%BA%97%3D%25&t=-5");
}

}  // namespace
