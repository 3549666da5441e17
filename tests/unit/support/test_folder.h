// Scratch folders for the unit tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

// A new folder under the temporary folder, named after the running test and
// removed with everything in it, read-only files too (Windows refuses to
// delete those).
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix = "orvane-test-");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// A private folder tree for one test: a working folder that becomes the
// current directory and holds the log the code under test appends to, and the
// local application-data folder that code finds.
//
// Natively HOME and XDG_DATA_HOME point into the tree. A Windows build finds
// the folder through the shell, which a test cannot redirect: there the tests
// that use it run only in a Wine prefix made for the tests (WINEPREFIX set,
// see REQUIRE_TEST_FOLDER), and KestoOrvane and Crashpad are cleared before
// and after each.
class TestFolder {
public:
    // `logName`: the log's name as the program sets it, relative to the
    // current directory.
    explicit TestFolder(const std::wstring& logName = L"orvane_launcher.log");
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    // False (with the reason) where the tests must not touch the folder.
    static bool usable(std::string* reason);

    const fs::path& root() const { return root_.path(); }
    const fs::path& work() const { return work_; }
    const fs::path& appData() const { return appData_; }
    fs::path kesto() const { return appData_ / "KestoOrvane"; }
    fs::path records() const { return kesto() / "lockfiles"; }
    fs::path dumps() const { return appData_ / "Crashpad" / "reports"; }
    fs::path log() const { return work_ / log_; }
    // The log's bytes; empty while there is none.
    std::string logText() const;

#ifndef _WIN32
    // Points the environment at a folder that does not exist.
    void hideAppData();
#endif

private:
    void clearSharedFolders() const;

    ScratchFolder root_;
    fs::path work_;
    fs::path appData_;
    fs::path log_;
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
