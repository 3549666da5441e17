#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/posix/text.h"

namespace platform {

using posix::fromUtf8;
using posix::toUtf8;

std::optional<std::wstring> localAppDataFolder() {
    std::string folder;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        folder = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        folder = std::string(home) + "/.local/share";
    } else {
        errno = ENOENT;
        return std::nullopt;
    }
    struct stat st{};
    if (::stat(folder.c_str(), &st) != 0) return std::nullopt;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return std::nullopt;
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return fromUtf8(folder);
}

std::wstring currentDirectory() {
    std::error_code ec;
    auto cwd = std::filesystem::current_path(ec);
    return ec ? std::wstring() : fromUtf8(cwd.string());
}

std::wstring executablePath() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::wstring() : fromUtf8(exe.string());
}

std::wstring tempFolder() {
    std::string folder = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && tmp[0] != '\0') folder = tmp;
    if (folder.back() != '/') folder += '/';
    return fromUtf8(folder);
}

bool pathAppend(std::wstring& path, std::wstring_view more) {
    while (!more.empty() && more.front() == kPathSeparator) more.remove_prefix(1);
    std::wstring joined = path;
    if (!joined.empty() && joined.back() != kPathSeparator && !more.empty()) joined += kPathSeparator;
    joined.append(more);
    if (joined.size() >= kMaxPath) return false;
    path = std::move(joined);
    return true;
}

bool pathExists(const std::wstring& path) {
    struct stat st{};
    return ::stat(toUtf8(path).c_str(), &st) == 0;
}

bool isDirectory(const std::wstring& path) {
    struct stat st{};
    return ::stat(toUtf8(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::wstring& path) {
    struct stat st{};
    return ::stat(toUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool allowOwnerExecute(const std::wstring& path) {
    const std::string target = toUtf8(path);
    struct stat st{};
    return ::stat(target.c_str(), &st) == 0 && ::chmod(target.c_str(), (st.st_mode & 07777) | S_IXUSR) == 0;
}

bool createDirectories(const std::wstring& path) {
    const std::string target = toUtf8(path);
    if (target.empty()) { errno = ENOENT; return false; }
    struct stat st{};
    if (::stat(target.c_str(), &st) == 0) { errno = EEXIST; return false; }
    std::size_t pos = 1;
    while (true) {
        pos = target.find('/', pos);
        const std::string part = target.substr(0, pos);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
        if (pos == std::string::npos) break;
        ++pos;
    }
    return ::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool deleteFile(const std::wstring& path) {
    // Linux's unlink refuses a folder with EISDIR itself and removes a link,
    // never what it names.
    return ::unlink(toUtf8(path).c_str()) == 0;
}

bool removeTree(const std::wstring& path) {
    std::error_code ec;
    // remove_all does not follow symbolic links: a link is removed, not its target.
    std::filesystem::remove_all(toUtf8(path), ec);
    if (ec) errno = ec.value();
    return !ec;
}

bool appendToFile(const std::wstring& path, const void* data, std::size_t size) {
    const int fd = ::open(toUtf8(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    auto p = static_cast<const char*>(data);
    bool ok = true;
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    ::close(fd);
    return ok;
}

long lastErrorCode() { return errno; }

std::optional<std::vector<DirEntry>> listDirectory(const std::wstring& folder, const std::wstring& pattern) {
    const std::string dirPath = toUtf8(folder);
    DIR* dir = ::opendir(dirPath.c_str());
    if (dir == nullptr) return std::nullopt;
    const std::string glob = toUtf8(pattern);
    std::vector<DirEntry> entries;
    while (dirent* ent = ::readdir(dir)) {
        if (::fnmatch(glob.c_str(), ent->d_name, FNM_CASEFOLD) != 0) continue;
        DirEntry entry;
        entry.name = fromUtf8(ent->d_name);
        // The listing tells the type on most file systems; a stat per entry
        // was most of a housekeeping pass's system calls.
        if (ent->d_type != DT_UNKNOWN) {
            entry.isDirectory = ent->d_type == DT_DIR;
        } else {
            struct stat st{};
            const std::string full = dirPath + "/" + ent->d_name;
            entry.isDirectory = ::lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    if (entries.empty()) { errno = ENOENT; return std::nullopt; }
    return entries;
}

File File::open(const std::wstring& path, Disposition disposition, bool writeAccess) {
    int flags = (writeAccess ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    if (disposition == Disposition::OpenAlways) flags |= O_CREAT;
    const std::string target = toUtf8(path);
    struct stat st{};
    if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;  // a folder is never opened as a file, as on Windows
        return File();
    }
    int fd = ::open(target.c_str(), flags, 0666);
    return fd < 0 ? File() : File(fd);
}

void SystemHandleTraits::close(std::intptr_t handle) noexcept { ::close(static_cast<int>(handle)); }

bool File::write(const void* data, std::size_t size) {
    if (!isOpen()) return false;
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(static_cast<int>(handle_.get()), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::size_t> File::read(void* buffer, std::size_t size) {
    if (!isOpen()) return std::nullopt;
    while (true) {
        ssize_t n = ::read(static_cast<int>(handle_.get()), buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return std::nullopt;
    }
}

}  // namespace platform
