#include "platform/shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/files.h"
#include "platform/posix/text.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

namespace {

// Runs the program in the background of a short-lived shell, so that it is
// not this process's child: nothing is left for this process to collect, as
// with a program Windows starts. The arguments reach the program as they are;
// the shell never reads them as script. True when the shell found the program.
bool startDetached(std::vector<std::string> args) {
    static const char kScript[] = "command -v \"$0\" >/dev/null 2>&1 || exit 127\n"
                                  "\"$0\" \"$@\" </dev/null >/dev/null 2>&1 &";
    std::vector<std::string> shellArgs{"/bin/sh", "-c", kScript};
    shellArgs.insert(shellArgs.end(), std::make_move_iterator(args.begin()), std::make_move_iterator(args.end()));
    std::vector<char*> argv;
    for (auto& a : shellArgs) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A bare program name found beside the running executable, as Windows looks
// there first; otherwise the name is left to the search path.
std::string locateProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    std::string folder = posix::toUtf8(executablePath());
    folder.resize(folder.rfind('/') + 1);
    const std::string beside = folder + name;
    return ::access(beside.c_str(), X_OK) == 0 ? beside : name;
}

}  // namespace

bool shellOpen(const std::string& target) {
    return startDetached({"xdg-open", target});
}

bool runHiddenCommand(const std::string& commandLine) {
    std::vector<std::string> args;
    for (const auto& arg : splitCommandLine(posix::fromUtf8(commandLine))) args.push_back(posix::toUtf8(arg));
    if (args.empty() || args[0].empty()) return false;
    args[0] = locateProgram(args[0]);
    return startDetached(std::move(args));
}

}  // namespace platform
