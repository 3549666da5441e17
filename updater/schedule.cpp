#include "updater/schedule.h"

#include <thread>

#include "updater/crash_dumps.h"
#include "updater/housekeeping.h"
#include "updater/update_check.h"

namespace updater {

std::int32_t scheduleTick = 0;

ScheduleJobs updaterJobs() {
    return {cleanStaleLocks, scanCrashDumps, checkForUpdate,
            [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }};
}

void runScheduleTick(const ScheduleJobs& jobs) {
    jobs.cleanStaleLocks();
    if (scheduleTick % kCrashScanEvery == 0) jobs.scanCrashDumps();
    if (scheduleTick == 0) jobs.checkForUpdate();
    jobs.pause(kTickPause);
    if (++scheduleTick == kTicksPerCycle) scheduleTick = 0;
}

void runSchedule() {
    const ScheduleJobs jobs = updaterJobs();
    while (true) runScheduleTick(jobs);
}

}  // namespace updater
