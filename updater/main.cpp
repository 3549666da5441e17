#include "platform/entry.h"
#include "updater/updater_main.h"

int programMain() { return updater::updaterMain(); }
