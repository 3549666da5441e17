#include "common/process_control.h"

#include "platform/process.h"

namespace common {

bool runProcess(const wchar_t* name, const wchar_t* args) {
    std::wstring commandLine = name != nullptr ? name : L"";
    commandLine += L' ';
    commandLine += args != nullptr ? args : L"";
    return platform::startProcess(commandLine);
}

bool killProcessesByName(const std::wstring& name) {
    bool found = false;
    for (const auto& process : platform::listProcesses()) {
        if (process.exeName != name) continue;
        found = true;
        if (!platform::terminateProcess(process.pid)) return false;
    }
    return found;
}

}  // namespace common
