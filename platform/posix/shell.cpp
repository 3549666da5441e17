#include "platform/shell.h"

#include <string>
#include <vector>

#include "platform/posix/spawn.h"
#include "platform/posix/text.h"
#include "platform/process.h"

namespace platform {

bool shellOpen(const std::string& target) {
    const std::string opener = posix::findProgram("xdg-open", false);
    return !opener.empty() && posix::startDetached(opener, {target});
}

bool runHiddenCommand(const std::string& commandLine) {
    std::vector<std::string> args;
    for (const auto& arg : splitCommandLine(posix::fromUtf8(commandLine))) args.push_back(posix::toUtf8(arg));
    if (args.empty() || args[0].empty()) return false;
    const std::string program = posix::findProgram(args[0], true);
    if (program.empty()) return false;
    args.erase(args.begin());
    return posix::startDetached(program, args);
}

}  // namespace platform
