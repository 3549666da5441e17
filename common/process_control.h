// Starting and ending programs by name, shared by the launcher and the updater.
#pragma once

#include <string>

namespace common {

// Starts "name args" (an absent part counts as empty), without quoting and
// without waiting. True when the process was created.
bool runProcess(const wchar_t* name, const wchar_t* args);

// Terminates every process whose executable name equals `name` exactly, the
// caller included. False when none matched or a termination failed (the walk
// stops at the first failure).
bool killProcessesByName(const std::wstring& name);

}  // namespace common
