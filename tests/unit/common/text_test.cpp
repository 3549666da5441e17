// Conversions between wide text and the user's ANSI code page.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/text.h"

using namespace common;

namespace {

TEST(TextConversion, AsciiPassesUnchanged) {
    EXPECT_EQ(narrowText(L"\r\nuuid:0A1B-c"), "\r\nuuid:0A1B-c");
    EXPECT_EQ(widenText("\r\nparam:ignoreSSLError"), L"\r\nparam:ignoreSSLError");
    EXPECT_EQ(narrowText(L""), "");
    EXPECT_EQ(widenText(""), L"");
}

TEST(TextConversion, EndsAtTheTerminatingZero) {
    EXPECT_EQ(narrowText(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(widenText(std::string("ab\0cd", 5)), L"ab");
}

TEST(TextConversion, LongTextIsNeverCut) {
    const std::wstring path(5000, L'x');
    EXPECT_EQ(narrowText(path).size(), 5000u);
    EXPECT_EQ(widenText(std::string(5000, 'y')).size(), 5000u);
}

#ifndef _WIN32
// The user's locale decides the code page; on Linux that is the environment's.
TEST(TextConversion, FollowsTheUsersLocale) {
    ::setenv("LC_ALL", "C.UTF-8", 1);
    EXPECT_EQ(narrowText(L"caf\u00e9 \u9519\u8bef"), "caf\xc3\xa9 \xe9\x94\x99\xe8\xaf\xaf");
    EXPECT_EQ(widenText("caf\xc3\xa9"), L"caf\u00e9");
}

TEST(TextConversion, WhatTheCodePageCannotHoldBecomesAQuestionMark) {
    ::setenv("LC_ALL", "C", 1);
    EXPECT_EQ(narrowText(L"a\u9519b"), "a?b");
    EXPECT_EQ(widenText("a\xff" "b"), L"a?b");
}
#else
TEST(TextConversion, RoundTripsWhatTheCodePageHolds) {
    // Every Western and Chinese ANSI code page holds these; an unheld
    // character would come back as a question mark.
    EXPECT_EQ(widenText(narrowText(L"KestoOrvane\\UserData_1")), L"KestoOrvane\\UserData_1");
}
#endif

}  // namespace
