#include "named_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>

#include "posix_text.h"

namespace platform {

namespace {

// The user's runtime folder holds per-user guards, as a logon session's
// namespace does on Windows.
std::string guardPath(const std::wstring& name) {
    std::string folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
        folder = runtime;
    } else {
        folder = "/tmp/orvane-" + std::to_string(::getuid());
        ::mkdir(folder.c_str(), 0700);
    }
    std::string file = posix::toUtf8(name);
    for (char& c : file)
        if (c == '/') c = '_';
    return folder + "/" + file + ".lock";
}

}  // namespace

std::unique_ptr<SingleInstanceGuard> SingleInstanceGuard::tryAcquire(const std::wstring& name) {
    const int fd = ::open(guardPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    // flock is dropped by the kernel when the holder ends, however it ends.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SingleInstanceGuard>(new SingleInstanceGuard(fd));
}

SingleInstanceGuard::~SingleInstanceGuard() { ::close(static_cast<int>(handle_)); }

NamedMutex::NamedMutex(const std::wstring& name) : path_(guardPath(name)) {}

NamedMutex::~NamedMutex() = default;

NamedMutex::Hold NamedMutex::lock(std::chrono::milliseconds timeout) {
    // A descriptor of its own for every hold: flock excludes other open file
    // descriptions, so threads of one process exclude each other too.
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return Hold(Outcome::Unavailable, -1);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = std::chrono::microseconds(20);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            ::close(fd);
            return Hold(Outcome::Unavailable, -1);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return Hold(Outcome::TimedOut, -1);
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(2000));
    }
    return Hold(Outcome::Acquired, fd);
}

NamedMutex::Hold::Hold(Hold&& other) noexcept : outcome_(other.outcome_), handle_(other.handle_) {
    other.outcome_ = Outcome::Unavailable;
    other.handle_ = -1;
}

// Closing the descriptor drops the file lock.
NamedMutex::Hold::~Hold() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

}  // namespace platform
