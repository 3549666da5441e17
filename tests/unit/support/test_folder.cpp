#include "tests/unit/support/test_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/files.h"
#include "common/log.h"

using namespace common;

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

TestFolder::TestFolder() {
    std::random_device random;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "orvane-test-";
    if (test != nullptr) name += std::string(test->test_suite_name()) + "-" + test->name() + "-";
    for (char& c : name)
        if (c == '/') c = '_';
    root_ = fs::temp_directory_path() / (name + std::to_string(random()));
    work_ = root_ / "work";
    fs::create_directories(work_);
#ifdef _WIN32
    appData_ = fs::path(platform::localAppDataFolder().value_or(L""));
    if (usable(nullptr)) fs::remove_all(kesto());
#else
    appData_ = root_ / "home" / ".local" / "share";
    fs::create_directories(appData_);
    ::setenv("HOME", (root_ / "home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", appData_.c_str(), 1);
#endif
    previousDirectory_ = fs::current_path();
    fs::current_path(work_);
    setLogFileName(L"orvane_launcher.log");
}

TestFolder::~TestFolder() {
    std::error_code ec;
    fs::current_path(previousDirectory_, ec);
#ifdef _WIN32
    if (usable(nullptr)) fs::remove_all(kesto(), ec);
#endif
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
}

#ifndef _WIN32
void TestFolder::hideAppData() {
    ::setenv("HOME", (root_ / "no-home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_ / "no-data").c_str(), 1);
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
