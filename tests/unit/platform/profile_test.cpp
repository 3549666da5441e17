// Profile files behave as the Windows profile functions do, on both backends.
#include <gtest/gtest.h>

#include "platform/profile.h"
#include "tests/unit/support/test_folder.h"

namespace {

struct ProfileTest : ::testing::Test {
    TestFolder folder;
    fs::path ini = folder.work() / "settings.ini";

    std::wstring read(const std::wstring& section, const std::wstring& key, std::size_t chars = 256,
                      const std::wstring& fallback = L"none") {
        return platform::readProfileString(ini.wstring(), section, key, fallback, chars);
    }
    bool write(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
        return platform::writeProfileString(ini.wstring(), section, key, value);
    }
};

TEST_F(ProfileTest, SectionsAndKeysMatchWithoutRegardToCase) {
    writeBytes(ini, "[Printer]\r\nType = usb\r\nName=Front desk \r\n");
    EXPECT_EQ(read(L"PRINTER", L"TYPE"), L"usb");
    EXPECT_EQ(read(L"printer", L"name"), L"Front desk");
    EXPECT_EQ(read(L"printer", L"missing"), L"none");
    EXPECT_EQ(read(L"other", L"type"), L"none");

    ASSERT_TRUE(write(L"PRINTER", L"TYPE", L"driver"));
    EXPECT_EQ(read(L"printer", L"type"), L"driver");
    // One entry, still spelled as the file had it.
    const std::string text = readBytes(ini);
    EXPECT_NE(text.find("Type=driver"), std::string::npos) << text;
    EXPECT_EQ(text.find("usb"), std::string::npos) << text;
    EXPECT_EQ(text.find("TYPE"), std::string::npos) << text;
}

TEST_F(ProfileTest, WritingKeepsEverythingElse) {
    writeBytes(ini,
               "; written by hand\r\n"
               "[first]\r\n"
               "a=1\r\n"
               "b=2\r\n"
               "[second]\r\n"
               "c=3\r\n");
    ASSERT_TRUE(write(L"first", L"b", L"20"));
    ASSERT_TRUE(write(L"first", L"new", L"x"));
    ASSERT_TRUE(write(L"third", L"d", L"4"));

    EXPECT_EQ(read(L"first", L"a"), L"1");
    EXPECT_EQ(read(L"first", L"b"), L"20");
    EXPECT_EQ(read(L"first", L"new"), L"x");
    EXPECT_EQ(read(L"second", L"c"), L"3");
    EXPECT_EQ(read(L"third", L"d"), L"4");
    const std::string text = readBytes(ini);
    EXPECT_NE(text.find("; written by hand"), std::string::npos) << text;
    // A new key joins its own section, not the end of the file.
    EXPECT_LT(text.find("new=x"), text.find("[second]")) << text;
    EXPECT_LT(text.find("[second]"), text.find("[third]")) << text;
}

TEST_F(ProfileTest, MissingFileIsCreatedOnWrite) {
    EXPECT_EQ(read(L"ORVANE", L"ENV", 64, L""), L"");
    EXPECT_FALSE(fs::exists(ini));
    ASSERT_TRUE(write(L"ORVANE", L"ENV", L"production"));
    EXPECT_EQ(readBytes(ini), "[ORVANE]\r\nENV=production\r\n");
}

TEST_F(ProfileTest, WriteFailsWhereNoFileCanBe) {
    EXPECT_FALSE(platform::writeProfileString((folder.work() / "no-such-folder" / "x.ini").wstring(), L"s", L"k",
                                              L"v"));
    fs::create_directories(ini);
    EXPECT_FALSE(write(L"s", L"k", L"v"));
    EXPECT_EQ(read(L"s", L"k"), L"none");
}

TEST_F(ProfileTest, ValuesAreCutToTheCallersBuffer) {
    writeBytes(ini, "[s]\r\nk=abcdefghij\r\n");
    EXPECT_EQ(read(L"s", L"k", 11), L"abcdefghij");
    EXPECT_EQ(read(L"s", L"k", 10), L"abcdefghi");
    EXPECT_EQ(read(L"s", L"k", 5), L"abcd");
    EXPECT_EQ(read(L"s", L"k", 2), L"a");
    EXPECT_EQ(read(L"s", L"k", 1), L"");
    // The default is cut the same way.
    EXPECT_EQ(read(L"s", L"missing", 4, L"production"), L"pro");

    const std::wstring longValue(100, L'p');
    ASSERT_TRUE(write(L"ORVANE", L"ENV", longValue));
    EXPECT_EQ(read(L"ORVANE", L"ENV", 64, L""), std::wstring(63, L'p'));
}

TEST_F(ProfileTest, QuotesAroundAValueAreNotPartOfIt) {
    writeBytes(ini,
               "[s]\r\n"
               "double=\"two words\"\r\n"
               "single='one'\r\n"
               "mixed=\"open'\r\n"
               "inner=a\"b\"c\r\n");
    EXPECT_EQ(read(L"s", L"double"), L"two words");
    EXPECT_EQ(read(L"s", L"single"), L"one");
    EXPECT_EQ(read(L"s", L"mixed"), L"\"open'");
    EXPECT_EQ(read(L"s", L"inner"), L"a\"b\"c");
}

TEST_F(ProfileTest, TrailingBlanksOfTheDefaultAreDropped) {
    EXPECT_EQ(read(L"s", L"k", 64, L"fallback   "), L"fallback");
}

TEST_F(ProfileTest, TextOutsideAsciiSurvivesARoundTrip) {
    ASSERT_TRUE(write(L"s", L"k", L"caf\u00e9"));
    EXPECT_EQ(read(L"s", L"k"), L"caf\u00e9");
}

TEST_F(ProfileTest, AnsiVariantsShareTheFile) {
    const std::string path = ini.string();
    ASSERT_TRUE(platform::writeProfileStringA(path, "printer", "type", "usb"));
    EXPECT_EQ(platform::readProfileStringA(path, "PRINTER", "Type", "", 256), "usb");
    EXPECT_EQ(platform::readProfileStringA(path, "printer", "type", "", 3), "us");
    EXPECT_EQ(platform::readProfileStringA(path, "printer", "name", "none", 256), "none");
    EXPECT_EQ(read(L"printer", L"type"), L"usb");
}

}  // namespace
