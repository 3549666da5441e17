#include "entry.h"
#include "updater_main.h"

int programMain() { return updaterMain(); }
