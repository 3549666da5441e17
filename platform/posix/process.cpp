#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/posix/spawn.h"
#include "platform/posix/text.h"

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

}  // namespace

void posix::recordProgramArguments(int argc, char** argv) {
    g_arguments.assign(argv, argv + argc);
    g_argumentsRecorded = true;
}

namespace {

constexpr wchar_t kIdleProcessName[] = L"[System Process]";

// The id a /proc entry names; nullopt for the entries that are no process.
std::optional<std::uint32_t> procEntryId(const char* name) {
    char* end = nullptr;
    const unsigned long pid = std::strtoul(name, &end, 10);
    if (end == name || *end != '\0') return std::nullopt;
    return static_cast<std::uint32_t>(pid);
}

}  // namespace

std::vector<ProcessEntry> listProcesses() {
    std::vector<ProcessEntry> list;
    list.push_back({0, kIdleProcessName});
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return list;
    const int procFd = ::dirfd(proc);
    std::string link(PATH_MAX, '\0');
    while (dirent* ent = ::readdir(proc)) {
        const auto pid = procEntryId(ent->d_name);
        if (!pid) continue;
        const auto name = executableName(procFd, ent->d_name, link);
        if (name) list.push_back({*pid, posix::fromUtf8(*name)});
    }
    ::closedir(proc);
    return list;
}

struct ProcessLookup::State {
    struct DirCloser {
        void operator()(DIR* dir) const { ::closedir(dir); }
    };
    std::unique_ptr<DIR, DirCloser> proc{::opendir("/proc")};
    std::vector<std::uint32_t> ids;  // ascending
    std::string link = std::string(PATH_MAX, '\0');

    // As listProcesses names the process; nullopt where it leaves it out.
    std::optional<std::string> name(std::uint32_t pid) {
        return executableName(::dirfd(proc.get()), std::to_string(pid), link);
    }
};

ProcessLookup::ProcessLookup() : state_(std::make_unique<State>()) {
    if (!state_->proc) return;
    while (dirent* ent = ::readdir(state_->proc.get()))
        if (const auto pid = procEntryId(ent->d_name)) state_->ids.push_back(*pid);
    std::sort(state_->ids.begin(), state_->ids.end());
}

ProcessLookup::~ProcessLookup() = default;

bool ProcessLookup::hasProcess(std::uint32_t pid) {
    if (pid == 0) return true;
    // Only an id the listing holds: /proc also opens a thread's id, which is
    // no process of its own. An ended process not yet collected is left out.
    return std::binary_search(state_->ids.begin(), state_->ids.end(), pid) && state_->name(pid).has_value();
}

std::optional<std::uint32_t> ProcessLookup::processNamed(std::wstring_view exeName, std::uint32_t lookFirst) {
    if (exeName == kIdleProcessName) return 0;
    const auto named = [&](std::uint32_t pid) {
        const auto name = state_->name(pid);
        return name && posix::fromUtf8(*name) == exeName;
    };
    const auto& ids = state_->ids;
    if (lookFirst != 0 && std::binary_search(ids.begin(), ids.end(), lookFirst) && named(lookFirst)) return lookFirst;
    for (const auto pid : ids)
        if (pid != lookFirst && named(pid)) return pid;
    return std::nullopt;
}

bool terminateProcess(std::uint32_t pid) {
    if (pid == 0) { errno = EPERM; return false; }
    return ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

bool startProcess(const std::wstring& commandLine) {
    std::vector<std::wstring> wide = splitCommandLine(commandLine);
    if (wide.empty() || wide[0].empty()) { errno = ENOENT; return false; }
    const std::string program = posix::findProgram(posix::toUtf8(wide[0]), true);
    if (program.empty()) { errno = ENOENT; return false; }

    std::vector<std::string> args;
    for (const auto& w : wide) args.push_back(posix::toUtf8(w));
    return posix::spawnProgram(program, args).has_value();
}

std::optional<std::vector<std::wstring>> commandLineArguments() {
    if (!g_argumentsRecorded) return std::nullopt;
    std::vector<std::wstring> out;
    for (const auto& a : g_arguments) out.push_back(posix::fromUtf8(a));
    return out;
}

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace platform
