// The desktop shell: opening a document or address the way a double-click
// does, and running a command line without a window. Neither waits for what
// it starts, and what the started program then does is not reported.
//
// Texts are in the bytes the system's narrow functions take: the ANSI code
// page on Windows, UTF-8 on Linux.
#pragma once

#include <string>

namespace platform {

// Opens a file, folder or URL with the "open" verb, shown normally
// (ShellExecuteA; xdg-open on Linux). True when the request was handed on.
bool shellOpen(const std::string& target);

// Starts a command line hidden, as WinExec does. On Linux the line is split
// by the Windows rules and its program is found beside the running executable
// first, then on the search path. True when the program was started.
bool runHiddenCommand(const std::string& commandLine);

}  // namespace platform
