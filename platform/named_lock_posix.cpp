#include "named_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

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

}  // namespace platform
