#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "schedule.h"

namespace {

// Records what each tick runs, pauses included, without waiting.
struct Recorder {
    std::vector<std::string> calls;
    ScheduleJobs jobs() {
        return {[this] { calls.push_back("clean"); }, [this] { calls.push_back("scan"); },
                [this] { calls.push_back("check"); },
                [this](std::chrono::milliseconds pause) { calls.push_back("pause " + std::to_string(pause.count())); }};
    }
    std::vector<std::string> tick(std::int32_t number) {
        scheduleTick = number;
        calls.clear();
        runScheduleTick(jobs());
        return calls;
    }
};

using Calls = std::vector<std::string>;

}  // namespace

TEST(Schedule, JobsOfEachTickInOrder) {
    Recorder r;
    EXPECT_EQ(r.tick(0), (Calls{"clean", "scan", "check", "pause 5000"}));
    EXPECT_EQ(scheduleTick, 1);
    EXPECT_EQ(r.tick(1), (Calls{"clean", "pause 5000"}));
    EXPECT_EQ(r.tick(29), (Calls{"clean", "pause 5000"}));
    EXPECT_EQ(r.tick(30), (Calls{"clean", "scan", "pause 5000"}));
    EXPECT_EQ(r.tick(690), (Calls{"clean", "scan", "pause 5000"}));
    EXPECT_EQ(r.tick(719), (Calls{"clean", "pause 5000"}));
    EXPECT_EQ(scheduleTick, 0) << "tick 720 counts as tick 0";
}

TEST(Schedule, OneCycleFromTheStart) {
    Recorder r;
    scheduleTick = 0;
    const ScheduleJobs jobs = r.jobs();
    for (int i = 0; i < 720; ++i) runScheduleTick(jobs);
    EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), "clean"), 720);
    EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), "scan"), 24);
    EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), "check"), 1);
    EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), "pause 5000"), 720);
    EXPECT_EQ(scheduleTick, 0);
    r.calls.clear();
    runScheduleTick(jobs);
    EXPECT_EQ(r.calls, (Calls{"clean", "scan", "check", "pause 5000"})) << "tick 720 runs all three again";
}
