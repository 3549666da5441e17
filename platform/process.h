// Processes: start, list, terminate, and the program's own command line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Executable names carry ".exe" only where the system does.
#ifdef _WIN32
inline constexpr wchar_t kExeSuffix[] = L".exe";
#else
inline constexpr wchar_t kExeSuffix[] = L"";
#endif

struct ProcessEntry {
    std::uint32_t pid = 0;
    std::wstring exeName;  // bare file name of the executable
};

// A snapshot of all processes, in the system's order. It always holds the
// idle process, id 0, as Windows' process snapshots do.
std::vector<ProcessEntry> listProcesses();

// The processes running now, asked by id and by executable name with the
// answers listProcesses would give. Windows takes its one snapshot when the
// lookup is made. The POSIX backend lists only the ids then and reads a
// process's executable when a question needs it: reading every executable
// makes a listing of hundreds of processes cost milliseconds.
class ProcessLookup {
public:
    ProcessLookup();
    ~ProcessLookup();
    ProcessLookup(const ProcessLookup&) = delete;
    ProcessLookup& operator=(const ProcessLookup&) = delete;

    bool hasProcess(std::uint32_t pid);
    // The id of a process of that executable name, nullopt when none runs.
    // `lookFirst` is asked before the others: a process found on one pass is
    // usually there on the next, and asking it alone is one read.
    std::optional<std::uint32_t> processNamed(std::wstring_view exeName, std::uint32_t lookFirst = 0);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Ends the process at once, with exit code 0 where the system allows one.
bool terminateProcess(std::uint32_t pid);

// Starts a command line without waiting, as CreateProcessW does with no
// application name: the first token names the program, found beside the
// running executable first, then on the search path. Inherits environment
// and current directory.
bool startProcess(const std::wstring& commandLine);

// This process's arguments, program path first, split by the shell's rules;
// nullopt when the command line cannot be split.
std::optional<std::vector<std::wstring>> commandLineArguments();

// Splits a command line by the rules of CommandLineToArgvW.
std::vector<std::wstring> splitCommandLine(std::wstring_view commandLine);

std::uint32_t currentProcessId();

}  // namespace platform
