// The plain append-only logs of the launcher and the updater.
#pragma once

#include <string>
#include <string_view>

namespace common {

// Names the file (relative to the current directory) that appendLog writes.
void setLogFileName(std::wstring name);

// Appends the text, in the ANSI code page, to the program's log. The file is
// opened for each call and never truncated; failures are silent.
void appendLog(std::wstring_view text);

// "\r\n%s:%ld\r\n": a failure message with the thread's last error code.
std::wstring formatErrorLine(std::wstring_view message, long code);

}  // namespace common
