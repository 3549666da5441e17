#include "tests/unit/updater/sandbox.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/files.h"
#include "updater/housekeeping.h"
#include "common/log.h"

using namespace common;
using namespace updater;

namespace {

// Removes a tree even when a test left read-only files in it, which Windows
// refuses to delete.
void removeTree(const fs::path& root) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
    }
    fs::remove_all(root, ec);
}

#ifndef _WIN32
void setVariable(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }
#endif

}  // namespace

Sandbox::Sandbox() {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("orvane-updater-test-" + std::to_string(random()));
    work_ = root_ / "work";
    fs::create_directories(work_);
#ifdef _WIN32
    // Under Wine the folder is the test prefix's own; only what the tests use is cleared.
    appData_ = fs::path(*platform::localAppDataFolder());
    removeTree(kesto());
    removeTree(appData_ / "Crashpad");
#else
    appData_ = root_ / "home" / ".local" / "share";
    fs::create_directories(appData_);
    setVariable("HOME", (root_ / "home").string());
    setVariable("XDG_DATA_HOME", appData_.string());
#endif
    previousDirectory_ = fs::current_path();
    fs::current_path(work_);
    setLogFileName(log().wstring());
}

Sandbox::~Sandbox() {
    fs::current_path(previousDirectory_);
#ifdef _WIN32
    removeTree(kesto());
    removeTree(appData_ / "Crashpad");
#endif
    removeTree(root_);
}

std::string Sandbox::logText() const { return fs::exists(log()) ? readFile(log()) : std::string(); }

#ifndef _WIN32
void Sandbox::hideAppData() {
    setVariable("HOME", (root_ / "no-home").string());
    setVariable("XDG_DATA_HOME", (root_ / "no-data").string());
}
#endif

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t endedProcessId() {
    // High ids, multiples of four as Windows hands them out, above Linux's
    // usual limit.
    std::uint32_t pid = 0x3FFFFC;
    while (isProcessIdRunning(pid)) pid -= 4;
    return pid;
}
