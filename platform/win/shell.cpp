#include "platform/shell.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

bool shellOpen(const std::string& target) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", target.c_str(), nullptr, nullptr, SW_SHOW));
    return result > 32;
}

bool runHiddenCommand(const std::string& commandLine) {
    return WinExec(commandLine.c_str(), SW_HIDE) > 31;
}

}  // namespace platform
