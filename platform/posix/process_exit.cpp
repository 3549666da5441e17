#include "platform/process_exit.h"

#include <cstdlib>

namespace platform {

bool otherThreadsRunInExitHandlers() { return true; }

void exitProcess(int status) { std::exit(status); }

}  // namespace platform
