#include "platform/entry.h"
#include "launcher/launcher_steps.h"

int programMain() { return launcher::launcherMain(); }
