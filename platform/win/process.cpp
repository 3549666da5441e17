#include "platform/process.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace platform {

namespace {

struct HandleCloser {
    HANDLE h;
    ~HandleCloser() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

}  // namespace

std::vector<ProcessEntry> listProcesses() {
    std::vector<ProcessEntry> list;
    HandleCloser snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    if (snapshot.h == INVALID_HANDLE_VALUE) return list;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.h, &entry); more; more = Process32NextW(snapshot.h, &entry))
        list.push_back({entry.th32ProcessID, entry.szExeFile});
    // Windows lists the idle process first; Wine leaves it out.
    if (list.empty() || list.front().pid != 0) list.insert(list.begin(), {0, L"[System Process]"});
    return list;
}

struct ProcessLookup::State {
    std::vector<ProcessEntry> processes = listProcesses();
};

ProcessLookup::ProcessLookup() : state_(std::make_unique<State>()) {}

ProcessLookup::~ProcessLookup() = default;

bool ProcessLookup::hasProcess(std::uint32_t pid) {
    return std::any_of(state_->processes.begin(), state_->processes.end(),
                       [pid](const ProcessEntry& process) { return process.pid == pid; });
}

// The snapshot holds every name already, so the order of asking costs nothing.
std::optional<std::uint32_t> ProcessLookup::processNamed(std::wstring_view exeName, std::uint32_t) {
    for (const auto& process : state_->processes)
        if (process.exeName == exeName) return process.pid;
    return std::nullopt;
}

bool terminateProcess(std::uint32_t pid) {
    HandleCloser process{OpenProcess(PROCESS_TERMINATE, FALSE, pid)};
    if (process.h == nullptr) return false;
    return TerminateProcess(process.h, 0) != FALSE;
}

bool startProcess(const std::wstring& commandLine) {
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    // No standard handles either: without this flag the system hands the
    // starter's console or pipe handles on even though nothing is inherited.
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nullptr;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

std::optional<std::vector<std::wstring>> commandLineArguments() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) return std::nullopt;
    std::vector<std::wstring> out(argv, argv + count);
    LocalFree(argv);
    return out;
}

std::uint32_t currentProcessId() { return GetCurrentProcessId(); }

}  // namespace platform
