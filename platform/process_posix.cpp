#include "process.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "files.h"
#include "posix_text.h"

extern char** environ;

namespace platform {

namespace {

std::vector<std::string> g_arguments;
bool g_argumentsRecorded = false;

// Reads a small /proc file whole; empty when it cannot be read.
std::string readProcFile(int procFd, const std::string& relative) {
    std::string text;
    const int fd = ::openat(procFd, relative.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
}

// The executable's file name; nullopt for a process that has ended. One
// system call for an ordinary process, which keeps a listing of hundreds of
// processes within a few milliseconds.
std::optional<std::string> executableName(int procFd, const std::string& pid, std::string& link) {
    const ssize_t n = ::readlinkat(procFd, (pid + "/exe").c_str(), link.data(), link.size());
    if (n > 0) {
        std::string target(link.data(), static_cast<std::size_t>(n));
        const std::string deleted = " (deleted)";
        if (target.size() > deleted.size() && target.ends_with(deleted)) target.resize(target.size() - deleted.size());
        return target.substr(target.rfind('/') + 1);
    }
    // No executable to read: a kernel thread, another user's process, or one
    // that has ended. Its status line holds the kernel's short name, "(name)",
    // and its state after it.
    const std::string stat = readProcFile(procFd, pid + "/stat");
    const auto open = stat.find('(');
    const auto close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
    // An ended process whose parent has not collected it yet is gone for
    // every purpose of this system, as on Windows.
    if (close + 2 < stat.size() && stat[close + 2] == 'Z') return std::nullopt;
    return stat.substr(open + 1, close - open - 1);
}

bool isExecutableFile(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A bare program name is looked for beside the running executable first,
// then on the search path, the way Windows finds it.
std::string resolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const std::string self = posix::toUtf8(executablePath());
    const std::string ownDir = self.substr(0, self.rfind('/') + 1);
    if (!ownDir.empty() && isExecutableFile(ownDir + name)) return ownDir + name;
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty()) dir = ".";
        if (isExecutableFile(dir + "/" + name)) return dir + "/" + name;
        start = end + 1;
    }
    return {};
}

}  // namespace

void posix::recordProgramArguments(int argc, char** argv) {
    g_arguments.assign(argv, argv + argc);
    g_argumentsRecorded = true;
}

std::vector<ProcessEntry> listProcesses() {
    std::vector<ProcessEntry> list;
    list.push_back({0, L"[System Process]"});
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return list;
    const int procFd = ::dirfd(proc);
    std::string link(PATH_MAX, '\0');
    while (dirent* ent = ::readdir(proc)) {
        char* end = nullptr;
        const unsigned long pid = std::strtoul(ent->d_name, &end, 10);
        if (end == ent->d_name || *end != '\0') continue;
        const auto name = executableName(procFd, ent->d_name, link);
        if (name) list.push_back({static_cast<std::uint32_t>(pid), posix::fromUtf8(*name)});
    }
    ::closedir(proc);
    return list;
}

bool terminateProcess(std::uint32_t pid) {
    if (pid == 0) { errno = EPERM; return false; }
    return ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

// Standard input, output and error on the null device, every other
// descriptor closed, a session of its own.
class SpawnSettings {
public:
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};

    SpawnSettings() {
        haveActions_ = (failure_ = posix_spawn_file_actions_init(&actions)) == 0;
        if (haveActions_) haveAttributes_ = (failure_ = posix_spawnattr_init(&attributes)) == 0;
        const int flags[] = {O_RDONLY, O_WRONLY, O_WRONLY};
        for (int fd = 0; fd < 3 && failure_ == 0; ++fd)
            failure_ = posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", flags[fd], 0);
        if (failure_ == 0) failure_ = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        if (failure_ == 0) failure_ = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    }
    ~SpawnSettings() {
        if (haveAttributes_) posix_spawnattr_destroy(&attributes);
        if (haveActions_) posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    bool ready() const {
        if (failure_ != 0) errno = failure_;
        return failure_ == 0;
    }

private:
    int failure_ = 0;
    bool haveActions_ = false;
    bool haveAttributes_ = false;
};

bool startProcess(const std::wstring& commandLine) {
    std::vector<std::wstring> wide = splitCommandLine(commandLine);
    if (wide.empty() || wide[0].empty()) { errno = ENOENT; return false; }
    const std::string program = resolveProgram(posix::toUtf8(wide[0]));
    if (program.empty()) { errno = ENOENT; return false; }

    std::vector<std::string> args;
    for (const auto& w : wide) args.push_back(posix::toUtf8(w));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // Started programs live on their own, as on Windows: a new session, so
    // the starter's terminal signals do not reach them, and no descriptor of
    // the starter. A program holding the write end of its caller's pipe would
    // keep the caller from ever reading to the end.
    SpawnSettings settings;
    if (!settings.ready()) return false;
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &settings.actions, &settings.attributes, argv.data(), environ);
    if (rc != 0) { errno = rc; return false; }
    return true;
}

std::optional<std::vector<std::wstring>> commandLineArguments() {
    if (!g_argumentsRecorded) return std::nullopt;
    std::vector<std::wstring> out;
    for (const auto& a : g_arguments) out.push_back(posix::fromUtf8(a));
    return out;
}

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace platform
