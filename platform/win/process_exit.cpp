#include "platform/process_exit.h"

#include <windows.h>

namespace platform {

namespace {

// Any object of this module: its address tells which module the code is in.
const char kInThisModule = 0;

}  // namespace

bool otherThreadsRunInExitHandlers() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&kInThisModule), &self))
        return false;
    return self == GetModuleHandleW(nullptr);
}

void exitProcess(int status) { ExitProcess(static_cast<UINT>(status)); }

}  // namespace platform
