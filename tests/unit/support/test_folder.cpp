#include "tests/unit/support/test_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/files.h"
#include "common/log.h"

using namespace common;

namespace {

// Removes a tree even where a test took permissions away: the owner gets
// every right back before anything is deleted.
void removeTree(const fs::path& root) {
    std::error_code ec;
    std::error_code ignored;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_symlink(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(root, ignored);
}

}  // namespace

ScratchFolder::ScratchFolder(const std::string& prefix) {
    std::random_device random;
    // MinGW's random_device may repeat itself, and one test may hold two folders.
    static std::atomic<int> count = 0;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = prefix;
    if (test != nullptr) name += std::string(test->name()) + "-";
    for (char& c : name)
        if (c == '/') c = '_';
    path_ = fs::temp_directory_path() / (name + std::to_string(random()) + "-" + std::to_string(++count));
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() { removeTree(path_); }

bool TestFolder::usable(std::string* reason) {
#ifdef _WIN32
    if (std::getenv("WINEPREFIX") == nullptr) {
        if (reason != nullptr) *reason = "runs only in the tests' Wine prefix: it would clear the user's own KestoOrvane";
        return false;
    }
#endif
    (void)reason;
    return true;
}

TestFolder::TestFolder(const std::wstring& logName) : work_(root() / "work"), log_(logName) {
    fs::create_directories(work_);
#ifdef _WIN32
    appData_ = fs::path(platform::localAppDataFolder().value_or(L""));
    clearSharedFolders();
#else
    appData_ = root() / "home" / ".local" / "share";
    fs::create_directories(appData_);
    ::setenv("HOME", (root() / "home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", appData_.c_str(), 1);
#endif
    previousDirectory_ = fs::current_path();
    fs::current_path(work_);
    setLogFileName(logName);
}

TestFolder::~TestFolder() {
    std::error_code ec;
    fs::current_path(previousDirectory_, ec);
#ifdef _WIN32
    clearSharedFolders();
#endif
}

// Under Wine the folder is the test prefix's own; only what the tests use is cleared.
void TestFolder::clearSharedFolders() const {
    if (!usable(nullptr)) return;
    removeTree(kesto());
    removeTree(appData_ / "Crashpad");
}

std::string TestFolder::logText() const { return fs::exists(log()) ? readBytes(log()) : std::string(); }

#ifndef _WIN32
void TestFolder::hideAppData() {
    ::setenv("HOME", (root() / "no-home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root() / "no-data").c_str(), 1);
}
#endif

void writeBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
