// Served to the updater as the installer: it records that it ran, how it was
// started and which of the shell's programs were still running at that moment.
#include <fstream>
#include <string>

#include "platform/process.h"

int main(int argc, char** argv) {
    const std::wstring suffix = platform::kExeSuffix;
    bool launcher = false;
    bool client = false;
    for (const auto& process : platform::listProcesses()) {
        launcher = launcher || process.exeName == L"orvane_launcher" + suffix;
        client = client || process.exeName == L"Orvane" + suffix;
    }
    std::ofstream out("installer_ran.txt", std::ios::binary);
    out << "program=" << (argc > 0 ? argv[0] : "") << "\n"
        << "arguments=" << argc - 1 << "\n"
        << "launcher=" << (launcher ? "running" : "ended") << "\n"
        << "client=" << (client ? "running" : "ended") << "\n";
    return 0;
}
