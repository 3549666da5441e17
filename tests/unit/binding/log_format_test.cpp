// The text of one log line: time stamp, category, message and its limit.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "binding/addon_log.h"

using namespace binding;

namespace {

const platform::LocalTime kDecember7{2026, 12, 7, 9, 5, 3, 7};

TEST(LogLineText, LayoutOfTimeStampAndCategory) {
    EXPECT_EQ(formatLogLine(kDecember7, "default", "print"), "[12- 7  9: 5: 3_  7][default]print");
    EXPECT_EQ(formatLogLine({2026, 1, 31, 23, 59, 58, 999}, "default", "x"), "[ 1-31 23:59:58_999][default]x");
    EXPECT_EQ(formatLogLine(kDecember7, "", "print"), "[12- 7  9: 5: 3_  7]print");
}

TEST(LogLineText, ArgumentsOfTheAddOnsFormats) {
    EXPECT_TRUE(formatLogLine(kDecember7, "default", "printAsync ret: %d", -3).ends_with("]printAsync ret: -3"));
    EXPECT_TRUE(formatLogLine(kDecember7, "default", "WriteFile ret:%d, Written: %d", 1, 6)
                    .ends_with("]WriteFile ret:1, Written: 6"));
    const std::string path = "\\\\?\\usb#vid_0416&pid_5011#5&1b4cd6d&0&2";
    EXPECT_TRUE(formatLogLine(kDecember7, "default", "begin print %s", path).ends_with("]begin print " + path));
}

TEST(LogLineText, TextFromOutsideIsNeverReadAsAFormat) {
    const std::string data = "<p_s><h1>100% off %d %s %n %%<p_e>";
    EXPECT_TRUE(formatLogLine(kDecember7, "default", "WritePrintData %s", data).ends_with("]WritePrintData " + data));
    const std::string_view view = "50%s";
    EXPECT_EQ(addon_log::formatMessage("%s|%s", view, "x%d"), "50%s|x%d");
    EXPECT_EQ(addon_log::formatMessage("100%% done"), "100% done");
}

TEST(LogLineText, MessageIsCutTo199Bytes) {
    const std::string prefix = "WritePrintData ";
    const std::string data(300, 'x');
    const std::string line = formatLogLine(kDecember7, "default", "WritePrintData %s", data);
    const std::string head = "[12- 7  9: 5: 3_  7][default]";
    ASSERT_EQ(line.size(), head.size() + 199);
    EXPECT_EQ(line, head + (prefix + data).substr(0, 199));
    EXPECT_EQ(addon_log::formatMessage("%s", std::string(199, 'y')).size(), 199u);
    EXPECT_EQ(addon_log::formatMessage("%s!", std::string(198, 'y')), std::string(198, 'y') + "!");
    // The format's own text counts as well.
    EXPECT_EQ(addon_log::formatMessage("%d%s", 12345, std::string(250, 'z')).size(), 199u);
}

TEST(LogLineText, TextArgumentsEndAtTheirFirstZeroByte) {
    EXPECT_EQ(addon_log::formatMessage("[%s]", std::string("ab\0cd", 5)), "[ab]");
    const char* none = nullptr;
    EXPECT_EQ(addon_log::formatMessage("%s", none), "(null)");
}

// The integer conversions give what the C library gives for the same value.
#define EXPECT_AS_PRINTF(format, value)                                   \
    do {                                                                  \
        char expected[64];                                                \
        std::snprintf(expected, sizeof expected, format, value);          \
        EXPECT_EQ(addon_log::formatMessage(format, value), expected) << format; \
    } while (0)

TEST(LogLineText, IntegerConversionsMatchTheCLibrary) {
    EXPECT_AS_PRINTF("%d", 0);
    EXPECT_AS_PRINTF("%d", -2147483647 - 1);
    EXPECT_AS_PRINTF("%5d|", -42);
    EXPECT_AS_PRINTF("%-5d|", -42);
    EXPECT_AS_PRINTF("%05d|", -42);
    EXPECT_AS_PRINTF("%3d", 123456);
    EXPECT_AS_PRINTF("%u", 4000000000u);
    EXPECT_AS_PRINTF("%u", -1);
    EXPECT_AS_PRINTF("%x", 255);
    EXPECT_AS_PRINTF("%08X", 0xBEEF);
    EXPECT_AS_PRINTF("%ld", 1234567L);
    EXPECT_AS_PRINTF("%lld", -9000000000LL);
    EXPECT_AS_PRINTF("%c", 'Q');
    EXPECT_AS_PRINTF("%-3c|", 'Q');
    EXPECT_AS_PRINTF("%6s|", "ab");
    EXPECT_AS_PRINTF("%-6s|", "ab");
}

}  // namespace
