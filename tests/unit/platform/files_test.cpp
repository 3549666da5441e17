// Paths, folders and files as the launcher and the updater use them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/files.h"
#include "tests/unit/support/test_folder.h"

namespace {

constexpr wchar_t kSep = platform::kPathSeparator;

TEST(PathAppend, JoinsWithOneSeparator) {
    std::wstring path = L"base";
    ASSERT_TRUE(platform::pathAppend(path, L"KestoOrvane"));
    EXPECT_EQ(path, std::wstring(L"base") + kSep + L"KestoOrvane");

    std::wstring withSeparator = std::wstring(L"base") + kSep;
    ASSERT_TRUE(platform::pathAppend(withSeparator, std::wstring(1, kSep) + L"uuid"));
    EXPECT_EQ(withSeparator, std::wstring(L"base") + kSep + L"uuid");
}

TEST(PathAppend, ResultMustFitTheSystemsPathBuffer) {
    // 259 characters and the terminator fill the buffer; one more does not fit.
    const std::wstring base = std::wstring(L"base") + kSep + std::wstring(200, L'd');
    const std::wstring fits(258 - base.size(), L'f');
    std::wstring path = base;
    ASSERT_TRUE(platform::pathAppend(path, fits));
    EXPECT_EQ(path.size(), 259u);

    path = base;
    EXPECT_FALSE(platform::pathAppend(path, fits + L"x"));
    EXPECT_EQ(path, base) << "a refused append leaves the path as it was";
}

TEST(Folders, CreatedWithParentsAndReportedOnce) {
    TestFolder folder;
    const fs::path deep = folder.work() / "a" / "b" / "c";
    EXPECT_TRUE(platform::createDirectories(deep.wstring()));
    EXPECT_TRUE(platform::isDirectory(deep.wstring()));
    // An existing folder counts as a failure, as the shell reports it.
    EXPECT_FALSE(platform::createDirectories(deep.wstring()));

    const fs::path file = folder.work() / "file";
    writeBytes(file, "x");
    EXPECT_TRUE(platform::pathExists(file.wstring()));
    EXPECT_FALSE(platform::isDirectory(file.wstring()));
    EXPECT_FALSE(platform::pathExists((folder.work() / "missing").wstring()));
}

TEST(Folders, DeletingOneFileNeverTakesAFolder) {
    TestFolder folder;
    const fs::path tree = folder.work() / "package.nw" / "lockfiles";
    writeBytes(tree / "inner" / "f", "x");
    EXPECT_FALSE(platform::deleteFile(tree.wstring()));
    EXPECT_TRUE(fs::exists(tree));
    EXPECT_TRUE(platform::deleteFile((tree / "inner" / "f").wstring()));
    EXPECT_FALSE(fs::exists(tree / "inner" / "f"));
    EXPECT_TRUE(platform::removeTree(tree.wstring()));
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_TRUE(fs::exists(tree.parent_path()));
}

TEST(Folders, ListingMatchesPatternsWithoutRegardToCase) {
    TestFolder folder;
    writeBytes(folder.work() / "a.dmp", "");
    writeBytes(folder.work() / "B.DMP", "");
    writeBytes(folder.work() / "c.txt", "");
    const auto dumps = platform::listDirectory(folder.work().wstring(), L"*.dmp");
    ASSERT_TRUE(dumps.has_value());
    std::vector<std::wstring> names;
    for (const auto& entry : *dumps) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"B.DMP", L"a.dmp"}));
    EXPECT_FALSE(platform::listDirectory(folder.work().wstring(), L"*.zip").has_value());
    EXPECT_FALSE(platform::listDirectory((folder.work() / "missing").wstring(), L"*").has_value());
}

TEST(Files, OpenWriteReadAndAppend) {
    TestFolder folder;
    const std::wstring path = (folder.work() / "uuid").wstring();
    EXPECT_FALSE(platform::File::open(path, platform::File::Disposition::OpenExisting, false).isOpen());
    {
        auto file = platform::File::open(path, platform::File::Disposition::OpenAlways, true);
        ASSERT_TRUE(file.isOpen());
        ASSERT_TRUE(file.write("0123456789", 10));
    }
    {
        // Opening again writes from the start and keeps the rest.
        auto file = platform::File::open(path, platform::File::Disposition::OpenAlways, true);
        ASSERT_TRUE(file.write("ab", 2));
    }
    EXPECT_EQ(readBytes(path), "ab23456789");
    ASSERT_TRUE(platform::appendToFile(path, "\r\n", 2));
    EXPECT_EQ(readBytes(path), "ab23456789\r\n");

    auto reader = platform::File::open(path, platform::File::Disposition::OpenExisting, false);
    char buffer[32] = {};
    EXPECT_EQ(reader.read(buffer, sizeof buffer), std::optional<std::size_t>(12));
}

TEST(Files, AFolderIsNeverOpenedAsAFile) {
    TestFolder folder;
    const fs::path dir = folder.work() / "uuid";
    fs::create_directories(dir);
    EXPECT_FALSE(platform::File::open(dir.wstring(), platform::File::Disposition::OpenAlways, true).isOpen());
    EXPECT_FALSE(platform::appendToFile(dir.wstring(), "x", 1));
    EXPECT_TRUE(fs::is_directory(dir));
}

#ifndef _WIN32
// Where the shell's folder comes from on Linux.
TEST(LocalAppData, FromXdgDataHomeElseHome) {
    TestFolder folder;
    EXPECT_EQ(platform::localAppDataFolder(), folder.appData().wstring());

    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(platform::localAppDataFolder(), folder.appData().wstring());
    // A relative XDG_DATA_HOME is to be ignored.
    ::setenv("XDG_DATA_HOME", "relative/share", 1);
    EXPECT_EQ(platform::localAppDataFolder(), folder.appData().wstring());

    ::setenv("XDG_DATA_HOME", (folder.appData().string() + "///").c_str(), 1);
    EXPECT_EQ(platform::localAppDataFolder(), folder.appData().wstring());
}

TEST(LocalAppData, MissingFolderIsNotFoundWithTheReason) {
    TestFolder folder;
    folder.hideAppData();
    EXPECT_FALSE(platform::localAppDataFolder().has_value());
    EXPECT_EQ(platform::lastErrorCode(), ENOENT);

    writeBytes(folder.root() / "plain-file", "");
    ::setenv("XDG_DATA_HOME", (folder.root() / "plain-file").c_str(), 1);
    errno = 0;
    EXPECT_FALSE(platform::localAppDataFolder().has_value());
    EXPECT_EQ(platform::lastErrorCode(), ENOTDIR);

    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("HOME");
    EXPECT_FALSE(platform::localAppDataFolder().has_value());
}
#else
TEST(LocalAppData, NamesAnExistingFolder) {
    const auto folder = platform::localAppDataFolder();
    ASSERT_TRUE(folder.has_value());
    EXPECT_TRUE(platform::isDirectory(*folder));
}
#endif

}  // namespace
