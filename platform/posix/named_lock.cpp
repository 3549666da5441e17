#include "platform/named_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/posix/text.h"

namespace platform {

namespace {

// A folder no other user may write, so no one else can create or hold a
// lock file in it: the owner is this user and neither group nor others may
// write. A link is judged by what it names.
bool isPrivateFolder(const std::string& folder) {
    struct stat st{};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Per-user guards live in the user's runtime folder, as in a logon session's
// namespace on Windows; without one, in a folder of the user's own
// application data, never at a predictable shared path another user could
// take first. Empty when neither is private.
std::string guardFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/')
        return isPrivateFolder(runtime) ? std::string(runtime) : std::string();
    const auto appData = localAppDataFolder();
    if (!appData) return {};
    const std::string folder = posix::toUtf8(*appData) + "/orvane-runtime";
    ::mkdir(folder.c_str(), 0700);
    return isPrivateFolder(folder) ? folder : std::string();
}

std::string guardPath(const std::wstring& name) {
    const std::string folder = guardFolder();
    if (folder.empty()) return {};
    std::string file = posix::toUtf8(name);
    for (char& c : file)
        if (c == '/') c = '_';
    return folder + "/" + file + ".lock";
}

}  // namespace

std::unique_ptr<SingleInstanceGuard> SingleInstanceGuard::tryAcquire(const std::wstring& name, Outcome& outcome) {
    outcome = Outcome::Unavailable;
    const std::string path = guardPath(name);
    if (path.empty()) return nullptr;
    SystemHandle fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) return nullptr;
    // flock is dropped by the kernel when the holder ends, however it ends.
    if (::flock(static_cast<int>(fd.get()), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) outcome = Outcome::HeldElsewhere;
        return nullptr;
    }
    outcome = Outcome::Acquired;
    return std::unique_ptr<SingleInstanceGuard>(new SingleInstanceGuard(std::move(fd)));
}

NamedMutex::NamedMutex(const std::wstring& name) : path_(guardPath(name)) {}

NamedMutex::~NamedMutex() = default;

NamedMutex::Hold NamedMutex::lock(std::chrono::milliseconds timeout) {
    // A descriptor of its own for every hold: flock excludes other open file
    // descriptions, so threads of one process exclude each other too.
    SystemHandle fd(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd) return Hold(Outcome::Unavailable);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = std::chrono::microseconds(20);
    while (::flock(static_cast<int>(fd.get()), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) return Hold(Outcome::Unavailable);
        if (std::chrono::steady_clock::now() >= deadline) return Hold(Outcome::TimedOut);
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(2000));
    }
    return Hold(Outcome::Acquired, fd.release());
}

// Closing the descriptor drops the file lock.
void NamedMutex::Hold::Release::close(std::intptr_t handle) noexcept { ::close(static_cast<int>(handle)); }

}  // namespace platform
