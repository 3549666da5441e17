// Conversions between UTF-8 and the ANSI code page. The run's locale is
// Chinese (LANG=zh_CN.UTF-8, set by the test's environment), so the ANSI code
// page is 936, as on the systems the add-on's own texts are written for.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/codepage.h"
#include "binding/conversions.h"

using namespace binding;

namespace {

struct ChineseText {
    std::string utf8;
    std::string gbk;
};

// The add-on's own Chinese texts and their bytes in code page 936.
const ChineseText kAddOnTexts[] = {
    {"USB \xE6\x89\x93\xE5\x8D\xB0\xE6\x94\xAF\xE6\x8C\x81", "USB \xB4\xF2\xD3\xA1\xD6\xA7\xB3\xD6"},  // USB 打印支持
    {"\xE4\xBD\xA9\xE6\xB4\x9B\xE5\x85\x8B\xE6\x96\xAF", "\xC5\xE5\xC2\xE5\xBF\xCB\xCB\xB9"},        // 佩洛克斯
    {"\xE9\xA9\xB1\xE5\x8A\xA8:", "\xC7\xFD\xB6\xAF:"},                                              // 驱动:
    {"\xE6\xB5\x8B\xE8\xAF\x95\xE6\x88\x90\xE5\x8A\x9F,\xE9\xA9\xB1\xE5\x8A\xA8\xE5\x8F\xAF\xE7\x94\xA8\xEF\xBC\x81",
     "\xB2\xE2\xCA\xD4\xB3\xC9\xB9\xA6,\xC7\xFD\xB6\xAF\xBF\xC9\xD3\xC3\xA3\xA1"},  // 测试成功,驱动可用！
};

class Conversions : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_CTYPE");
        ::setenv("LANG", "zh_CN.UTF-8", 1);
#endif
        ASSERT_EQ(platform::ansiCodePage(), 936u) << "the test run gives the programs a Chinese locale";
    }
};

TEST_F(Conversions, TheAddOnsChineseTextsRoundTripThroughCodePage936) {
    for (const auto& text : kAddOnTexts) {
        SCOPED_TRACE(text.utf8);
        EXPECT_EQ(utf8ToAnsi(text.utf8), text.gbk);
        EXPECT_EQ(ansiToUtf8(text.gbk), text.utf8);
        EXPECT_EQ(wideToAnsi(utf8ToWide(text.utf8)), text.gbk);
        EXPECT_EQ(wideToUtf8(ansiToWide(text.gbk)), text.utf8);
    }
    EXPECT_EQ(utf8ToAnsi(kAddOnTexts[1].utf8).size(), 8u);
    EXPECT_EQ(utf8ToAnsi(kAddOnTexts[3].utf8).size(), 19u);
    // A receipt keeps its mark-up and line feeds; only the text changes.
    EXPECT_EQ(utf8ToAnsi("<p_s><c1>" + kAddOnTexts[1].utf8 + "\n<bc>123<p_e>"),
              "<p_s><c1>" + kAddOnTexts[1].gbk + "\n<bc>123<p_e>");
}

TEST_F(Conversions, WhatCodePage936CannotHoldBecomesItsDefaultCharacter) {
    // Thai and Hangul letters are not in code page 936.
    EXPECT_EQ(utf8ToAnsi("a\xE0\xB8\x81z"), "a?z");
    EXPECT_EQ(utf8ToAnsi("\xED\x95\x9C\xE0\xB8\x81" "1"), "??1");
    EXPECT_EQ(wideToAnsi(L"x\u0E01y"), "x?y");
}

TEST_F(Conversions, InvalidUtf8BecomesTheReplacementCharacter) {
    EXPECT_EQ(utf8ToWide("a\xFF" "b"), L"a\uFFFDb");
    EXPECT_EQ(utf8ToWide("\xC3(x"), L"\uFFFD(x");
    EXPECT_EQ(wideToUtf8(utf8ToWide("a\xFF" "b")), "a\xEF\xBF\xBD" "b");
    // On its way to the printer the replacement character is not in 936 either.
    EXPECT_EQ(utf8ToAnsi("a\xFF" "b"), "a?b");
}

TEST_F(Conversions, AnEmbeddedZeroEndsTheInput) {
    const std::string utf8("ab\0\xE9\xA9\xB1", 5);
    EXPECT_EQ(utf8ToWide(utf8), L"ab");
    EXPECT_EQ(utf8ToAnsi(utf8), "ab");
    EXPECT_EQ(ansiToUtf8(std::string("\xC7\xFD\0\xB6\xAF", 5)), "\xE9\xA9\xB1");
    EXPECT_EQ(ansiToWide(std::string("x\0y", 3)), L"x");
    EXPECT_EQ(wideToUtf8(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(wideToAnsi(std::wstring(L"\0cd", 3)), "");
}

TEST_F(Conversions, EmptyInGivesEmptyOut) {
    EXPECT_EQ(utf8ToWide(""), L"");
    EXPECT_EQ(wideToUtf8(L""), "");
    EXPECT_EQ(ansiToWide(""), L"");
    EXPECT_EQ(wideToAnsi(L""), "");
    EXPECT_EQ(utf8ToAnsi(""), "");
    EXPECT_EQ(ansiToUtf8(""), "");
}

TEST(CodePageOfLocale, AsWindowsGivesItForTheLanguageAndTerritory) {
    EXPECT_EQ(platform::ansiCodePageForLocale("zh_CN.UTF-8"), 936u);
    EXPECT_EQ(platform::ansiCodePageForLocale("zh_SG.GB2312"), 936u);
    EXPECT_EQ(platform::ansiCodePageForLocale("zh_TW.UTF-8"), 950u);
    EXPECT_EQ(platform::ansiCodePageForLocale("zh_HK.BIG5-HKSCS"), 950u);
    EXPECT_EQ(platform::ansiCodePageForLocale("ja_JP.UTF-8"), 932u);
    EXPECT_EQ(platform::ansiCodePageForLocale("ko_KR.EUC-KR"), 949u);
    EXPECT_EQ(platform::ansiCodePageForLocale("ru_RU.UTF-8"), 1251u);
    EXPECT_EQ(platform::ansiCodePageForLocale("sr_RS"), 1251u);
    EXPECT_EQ(platform::ansiCodePageForLocale("sr_RS@latin"), 1250u);
    EXPECT_EQ(platform::ansiCodePageForLocale("pl_PL.UTF-8"), 1250u);
    EXPECT_EQ(platform::ansiCodePageForLocale("de_DE@euro"), 1252u);
    EXPECT_EQ(platform::ansiCodePageForLocale("en_US.UTF-8"), 1252u);
    EXPECT_EQ(platform::ansiCodePageForLocale("C.UTF-8"), 1252u);
    EXPECT_EQ(platform::ansiCodePageForLocale(""), 1252u);
}

#ifndef _WIN32
TEST(CodePageOfLocale, TheLocaleVariablesInTheirOrder) {
    ::setenv("LANG", "ja_JP.UTF-8", 1);
    ::setenv("LC_CTYPE", "ko_KR.UTF-8", 1);
    ::setenv("LC_ALL", "zh_TW.UTF-8", 1);
    EXPECT_EQ(platform::ansiCodePage(), 950u);
    ::setenv("LC_ALL", "", 1);
    EXPECT_EQ(platform::ansiCodePage(), 949u);
    ::unsetenv("LC_CTYPE");
    EXPECT_EQ(platform::ansiCodePage(), 932u);
    ::unsetenv("LANG");
    EXPECT_EQ(platform::ansiCodePage(), 1252u);
    // A Western locale has no room for Chinese: the default character again.
    ::setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(utf8ToAnsi("\xC3\xA4\xE9\xA9\xB1"), "\xE4?");
}
#endif

}  // namespace
