// Internal to the POSIX backend: the one way it finds and starts a program.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace platform::posix {

// The program a name means: a name with a slash as it stands; a bare name
// beside the running executable first when asked (the way Windows finds it),
// then in each folder of PATH, as a file this user may run. Empty when none is.
std::string findProgram(const std::string& name, bool besideExecutableFirst);

struct SpawnOptions {
    // A program started to live on its own gets a new session, as on Windows,
    // so the starter's terminal signals do not reach it; a tool the caller
    // waits for stays in the caller's.
    bool ownSession = true;
    // The one descriptor of the starter the program gets, as 3.
    int keepAs3 = -1;
    // Settings put ahead of the inherited environment.
    std::vector<std::string> environment;
};

// Starts `program` with `args` (args[0] its own name) and the standard
// handles on the null device, no other descriptor of the starter: a program
// holding the write end of its caller's pipe would keep the caller from ever
// reading to the end. The child's id; nullopt, errno set, when it did not start.
std::optional<pid_t> spawnProgram(const std::string& program, const std::vector<std::string>& args,
                                  const SpawnOptions& options = {});

// The child's exit status once it has ended; nullopt when it was ended by a
// signal or could not be waited for.
std::optional<int> waitForExit(pid_t child);

// Starts `program`, a path findProgram gave, through a short-lived shell that
// leaves it running in the background, so that it is not this process's
// child and nothing is left to collect, as with a program Windows starts.
// `arguments` follow the program's name and reach it as they are; the shell
// never reads them as script. True when the shell ran to its end.
bool startDetached(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace platform::posix
