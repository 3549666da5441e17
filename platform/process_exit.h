// The end of this process: how it is ended, and what still runs while the C
// runtime's exit handlers (std::atexit) run.
#pragma once

namespace platform {

// Whether the process's other threads still run while this code's exit
// handlers run. Linux: yes, exit() runs them before any thread ends. Windows:
// for code in the program itself, yes (exit() runs its handlers first); for
// code in a DLL, such as the add-on, no: its handlers run while the DLL is
// detached from the ending process, after ExitProcess has ended every other
// thread, under the loader lock, where a wait for another thread never ends.
bool otherThreadsRunInExitHandlers();

// Ends the process with `status` as the system's own end does: ExitProcess on
// Windows, exit() on Linux. Libraries' exit handlers run; on Windows those of
// the program itself do not.
[[noreturn]] void exitProcess(int status);

}  // namespace platform
