#include "updater_main.h"

#include <memory>

#include "launch_report.h"
#include "log.h"
#include "named_lock.h"
#include "schedule.h"

namespace {

// Held for the life of the process; it marks that an updater runs.
std::unique_ptr<platform::SingleInstanceGuard> g_updaterGuard;

}  // namespace

void closeUpdaterGuard() { g_updaterGuard.reset(); }

int updaterMain() {
    setLogFileName(L"orvane_updater.log");
    g_updaterGuard = platform::SingleInstanceGuard::tryAcquire(L"LO.VOMI.KESTO.ORVANE_UPDATER");
    if (!g_updaterGuard) return 0;
    sendLaunchReport();
    runSchedule();
}
