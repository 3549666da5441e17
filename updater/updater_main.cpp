#include "updater/updater_main.h"

#include <memory>

#include "updater/launch_report.h"
#include "common/log.h"
#include "platform/named_lock.h"
#include "updater/schedule.h"

namespace updater {

namespace {

// Held for the life of the process; it marks that an updater runs.
std::unique_ptr<platform::SingleInstanceGuard> g_updaterGuard;

}  // namespace

void closeUpdaterGuard() { g_updaterGuard.reset(); }

int updaterMain() {
    common::setLogFileName(L"orvane_updater.log");
    auto outcome = platform::SingleInstanceGuard::Outcome::Unavailable;
    g_updaterGuard = platform::SingleInstanceGuard::tryAcquire(L"LO.VOMI.KESTO.ORVANE_UPDATER", outcome);
    // Only another updater ends this one: a guard that cannot be made at all
    // must not stop every report, housekeeping pass and update for good.
    if (outcome == platform::SingleInstanceGuard::Outcome::HeldElsewhere) return 0;
    sendLaunchReport();
    runSchedule();
}

}  // namespace updater
