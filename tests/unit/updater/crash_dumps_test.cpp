#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "updater/crash_dumps.h"
#include "updater/identity.h"
#include "updater/md5.h"
#include "tests/unit/support/test_folder.h"

using namespace updater;

TEST(CrashDumps, EachDumpIsLoggedWithItsReportName) {
    TestFolder sandbox{L"orvane_updater.log"};
    writeBytes(sandbox.dumps() / "first.dmp", "MDMP");
    writeBytes(sandbox.dumps() / "SECOND.DMP", "MDMP");
    writeBytes(sandbox.dumps() / ".hidden.dmp", "MDMP");
    writeBytes(sandbox.dumps() / "notes.txt", "");
    writeBytes(sandbox.dumps() / "folder.dmp" / "inner.dmp", "MDMP");
    writeBytes(sandbox.dumps() / "sub" / "deeper.dmp", "MDMP");

    const long long before = std::time(nullptr);
    scanCrashDumps();
    const long long after = std::time(nullptr);

    const std::string log = sandbox.logText();
    const std::regex line("\r\nsend dump file:(.*?)([0-9a-f]{32})_([0-9]+)");
    std::vector<std::string> paths;
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
        paths.push_back((*it)[1].str());
        EXPECT_EQ((*it)[2].str(), md5Hex(macAddressList()));
        const long long t = std::stoll((*it)[3].str());
        EXPECT_TRUE(t >= before && t <= after) << t;
    }
    EXPECT_EQ(std::regex_replace(log, line, ""), "") << "nothing but the dump lines";
    std::sort(paths.begin(), paths.end());
    const std::vector<std::string> expected{(sandbox.dumps() / "SECOND.DMP").string(),
                                            (sandbox.dumps() / "first.dmp").string(),
                                            (sandbox.dumps() / "folder.dmp").string()};
    EXPECT_EQ(paths, expected);
    EXPECT_TRUE(fs::exists(sandbox.dumps() / "first.dmp")) << "dumps stay where they are";
}

TEST(CrashDumps, NoFolderOrNoDumpLogsNothing) {
    TestFolder sandbox{L"orvane_updater.log"};
    scanCrashDumps();
    fs::create_directories(sandbox.dumps());
    writeBytes(sandbox.dumps() / "a.txt", "");
    scanCrashDumps();
    EXPECT_FALSE(fs::exists(sandbox.log()));
}

#ifndef _WIN32
TEST(CrashDumps, MissingAppDataFolderLogsItsOneText) {
    TestFolder sandbox{L"orvane_updater.log"};
    sandbox.hideAppData();
    scanCrashDumps();
    EXPECT_EQ(sandbox.logText(), "\r\nGET APPDATA DIR FILAED");
}
#endif
