#include "entry.h"
#include "launcher_steps.h"

int programMain() { return launcherMain(); }
