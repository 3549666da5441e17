// The updater's five-second schedule of jobs.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace updater {

inline constexpr std::chrono::milliseconds kTickPause{5000};
inline constexpr std::int32_t kCrashScanEvery = 30;
inline constexpr std::int32_t kTicksPerCycle = 720;

// 0 at start, always in 0 … 719.
extern std::int32_t scheduleTick;

struct ScheduleJobs {
    std::function<void()> cleanStaleLocks;
    std::function<void()> scanCrashDumps;
    std::function<void()> checkForUpdate;
    std::function<void(std::chrono::milliseconds)> pause;
};

// The real jobs and a real sleep.
ScheduleJobs updaterJobs();

// One tick: the tick's jobs in order, the pause, then the next tick number.
void runScheduleTick(const ScheduleJobs& jobs);

// Ticks for as long as the process lives.
[[noreturn]] void runSchedule();

}  // namespace updater
