// A private folder tree for one test: a working folder that becomes the
// current directory and the launcher log's home, and the local
// application-data folder the code under test finds.
//
// Natively HOME and XDG_DATA_HOME point into the tree. A Windows build finds
// the folder through the shell, which a test cannot redirect: there the tests
// that use it run only in a Wine prefix made for the tests (WINEPREFIX set,
// see REQUIRE_TEST_FOLDER), and KestoOrvane is cleared before and after each.
#pragma once

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    // False (with the reason) where the tests must not touch the folder.
    static bool usable(std::string* reason);

    const fs::path& root() const { return root_; }
    const fs::path& work() const { return work_; }
    const fs::path& appData() const { return appData_; }
    fs::path kesto() const { return appData_ / "KestoOrvane"; }
    fs::path launcherLog() const { return work_ / "orvane_launcher.log"; }

#ifndef _WIN32
    // Points the environment at a folder that does not exist.
    void hideAppData();
#endif

private:
    fs::path root_;
    fs::path work_;
    fs::path appData_;
    fs::path previousDirectory_;
};

// Whole-file helpers, byte for byte.
void writeBytes(const fs::path& path, const std::string& bytes);
std::string readBytes(const fs::path& path);

// Skips the test where TestFolder may not be used.
#define REQUIRE_TEST_FOLDER()                                          \
    do {                                                               \
        std::string reason_;                                           \
        if (!TestFolder::usable(&reason_)) GTEST_SKIP() << reason_;    \
    } while (0)
