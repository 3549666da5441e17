#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/named_lock.h"
#include "platform/process.h"
#include "tests/unit/support/test_folder.h"
#include "updater/schedule.h"

using namespace updater;

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

// Only a guard that another instance holds may stop an updater; one that
// cannot be made, or would lie where another user could take it first, must not.
TEST(UpdaterGuard, OnlyAnotherHolderEndsTheUpdater) {
    using Outcome = platform::SingleInstanceGuard::Outcome;
    const std::wstring name = L"orvane.test.guard." + std::to_wstring(platform::currentProcessId());
    Outcome outcome = Outcome::Unavailable;
    {
        TestFolder sandbox{L"orvane_updater.log"};
        const auto held = platform::SingleInstanceGuard::tryAcquire(name, outcome);
        EXPECT_EQ(outcome, Outcome::Acquired);
        EXPECT_EQ(platform::SingleInstanceGuard::tryAcquire(name, outcome), nullptr);
        EXPECT_EQ(outcome, Outcome::HeldElsewhere);
    }
#ifdef _WIN32
    EXPECT_EQ(platform::SingleInstanceGuard::tryAcquire(L"NoSuchNamespace\\" + name, outcome), nullptr);
    EXPECT_EQ(outcome, Outcome::Unavailable);
#else
    const char* previous = std::getenv("XDG_RUNTIME_DIR");
    const std::string kept = previous != nullptr ? previous : "";
    // The old predictable shared place, with the guard held there as by
    // another user who took it first.
    const std::string status = readBytes("/proc/self/status");
    const auto uid = status.find("\nUid:\t");
    ASSERT_NE(uid, std::string::npos);
    const fs::path shared = "/tmp/orvane-" + status.substr(uid + 6, status.find('\t', uid + 6) - uid - 6);
    const bool made = fs::create_directory(shared);
    fs::permissions(shared, fs::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", shared.c_str(), 1);
    const auto squatter = platform::SingleInstanceGuard::tryAcquire(name, outcome);
    ASSERT_EQ(outcome, Outcome::Acquired);
    struct Row {
        const char* runtime;  // nullptr: unset
        fs::perms mode;
        Outcome expected;
    };
    const Row rows[] = {
        {"private", fs::perms::owner_all, Outcome::Acquired},
        {"missing", fs::perms::none, Outcome::Unavailable},
        {"a file", fs::perms::none, Outcome::Unavailable},
        {"shared", fs::perms::all, Outcome::Unavailable},
        {nullptr, fs::perms::none, Outcome::Acquired},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.runtime ? row.runtime : "unset");
        TestFolder sandbox{L"orvane_updater.log"};
        const fs::path runtime = sandbox.appData().parent_path() / "runtime";
        if (row.runtime == nullptr) {
            ::unsetenv("XDG_RUNTIME_DIR");
        } else {
            ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            if (std::string(row.runtime) == "a file") writeBytes(runtime, "");
            else if (row.mode != fs::perms::none) {
                fs::create_directories(runtime);
                fs::permissions(runtime, row.mode);
            }
        }
        const auto guard = platform::SingleInstanceGuard::tryAcquire(name, outcome);
        EXPECT_EQ(outcome, row.expected);
        EXPECT_EQ(guard != nullptr, row.expected == Outcome::Acquired);
    }
    fs::remove(shared / (fs::path(name).string() + ".lock"));
    if (made) fs::remove(shared);
    if (previous != nullptr) ::setenv("XDG_RUNTIME_DIR", kept.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
#endif
}
