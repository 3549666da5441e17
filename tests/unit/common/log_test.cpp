// The append-only logs, byte for byte.
#include <gtest/gtest.h>

#include "common/log.h"
#include "tests/unit/support/test_folder.h"

using namespace common;

namespace {

TEST(AppendLog, MessageAndValueShareALine) {
    TestFolder folder;
    appendLog(L"\r\nuuid:");
    appendLog(L"0A1B2C3D-0000-4000-8000-00000000000F");
    EXPECT_EQ(readBytes(folder.log()), "\r\nuuid:0A1B2C3D-0000-4000-8000-00000000000F");
}

TEST(AppendLog, EmptyTextAppendsNothing) {
    TestFolder folder;
    appendLog(L"\r\nparam:");
    appendLog(L"");
    appendLog(L"x");
    EXPECT_EQ(readBytes(folder.log()), "\r\nparam:x");
}

TEST(AppendLog, ExistingLogIsNeverTruncated) {
    TestFolder folder;
    writeBytes(folder.log(), "earlier run\r\n");
    appendLog(L"\r\nrun orvane.exe failed");
    EXPECT_EQ(readBytes(folder.log()), "earlier run\r\n\r\nrun orvane.exe failed");
}

TEST(AppendLog, NameIsRelativeToTheCurrentDirectory) {
    TestFolder folder;
    fs::create_directories(folder.work() / "elsewhere");
    fs::current_path(folder.work() / "elsewhere");
    appendLog(L"\r\nmoved");
    EXPECT_EQ(readBytes(folder.work() / "elsewhere" / "orvane_launcher.log"), "\r\nmoved");
    EXPECT_FALSE(fs::exists(folder.log()));
}

TEST(AppendLog, UnwritableLogIsDroppedSilently) {
    TestFolder folder;
    fs::create_directories(folder.log());  // a folder where the file would be
    appendLog(L"\r\nlost");
    EXPECT_TRUE(fs::is_directory(folder.log()));
    EXPECT_TRUE(fs::is_empty(folder.log()));
}

TEST(FormatErrorLine, MessageThenSignedCode) {
    EXPECT_EQ(formatErrorLine(L"get appdata dir failed", 2), L"\r\nget appdata dir failed:2\r\n");
    EXPECT_EQ(formatErrorLine(L"open uuid file failed\r\n", -5), L"\r\nopen uuid file failed\r\n:-5\r\n");
}

}  // namespace
