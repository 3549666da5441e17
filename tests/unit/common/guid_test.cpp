// The installation ID's text.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "common/guid.h"

using namespace common;

namespace {

TEST(MakeGuidString, UpperCaseHexInFiveGroups) {
    const std::wregex pattern(L"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    std::set<std::wstring> seen;
    for (int i = 0; i < 200; ++i) {
        std::wstring id;
        ASSERT_TRUE(makeGuidString(&id));
        ASSERT_EQ(id.size(), 36u);
        ASSERT_TRUE(std::regex_match(id, pattern)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u) << "every call makes a fresh ID";
}

TEST(MakeGuidString, ReplacesWhateverTheBufferHeld) {
    std::wstring id = L"previous content that is longer than any ID";
    ASSERT_TRUE(makeGuidString(&id));
    EXPECT_EQ(id.size(), 36u);
}

TEST(MakeGuidString, NoBufferIsAFailure) { EXPECT_FALSE(makeGuidString(nullptr)); }

}  // namespace
