// Job tracking's rules on snapshots made by hand: when a task counts as
// printed, when it expires, and how the answer is put together.
#include <gtest/gtest.h>

#include "binding/driver_printer.h"
#include "binding/job_tracking.h"

using namespace binding;

namespace {

using Pieces = std::vector<std::string>;

TEST(SplitOnComma, KeepsEmptyPiecesButNoEmptyRest) {
    EXPECT_EQ(splitOnComma("A,,B"), (Pieces{"A", "", "B"}));
    EXPECT_EQ(splitOnComma("A,"), (Pieces{"A"}));
    EXPECT_EQ(splitOnComma(",A"), (Pieces{"", "A"}));
    EXPECT_EQ(splitOnComma("A"), (Pieces{"A"}));
    EXPECT_EQ(splitOnComma(""), Pieces{});
}

using platform::JobState;
using platform::QueuedJob;

TEST(TrackedTaskRecord, KeepsOrderIdDocumentNameAndPrinterWhole) {
    const TrackedTask task = makeTrackedTask(7, std::string(40, '1'), std::string(40, 'd'), "Receipt", {11, 12});
    EXPECT_EQ(task.orderId, std::string(40, '1'));
    EXPECT_EQ(task.documentName, std::string(40, 'd'));
    EXPECT_EQ(task.printer, "Receipt");
    EXPECT_EQ(task.time, 7);
    EXPECT_EQ(task.jobIds, (std::vector<int>{11, 12}));
}

TEST(JobSnapshotOfPrinters, HoldsOnlyQueuesThatCouldBeRead) {
    const auto lister = [](const std::string& printer) -> std::optional<std::vector<QueuedJob>> {
        if (printer == "A") return std::vector<QueuedJob>{{1, "doc", 3, 0}, {2, "other", 1, 1, JobState::Completed}};
        if (printer == "Empty") return std::vector<QueuedJob>{};
        return std::nullopt;
    };
    JobSnapshot snapshot{{"stale", {}}};
    snapshotJobs({"A", "missing", "Empty", "", std::string(300, 'L')}, snapshot, lister);
    ASSERT_EQ(snapshot.size(), 2u);
    EXPECT_EQ(snapshot.count("stale"), 0u);
    EXPECT_EQ(snapshot["A"].size(), 2u);
    EXPECT_EQ(snapshot["A"][1].state, JobState::Completed);
    // An empty queue was read; an unknown printer was not.
    EXPECT_TRUE(snapshot["Empty"].empty());
}

class Collect : public ::testing::Test {
protected:
    void add(const char* orderId, std::vector<int> jobs, std::int32_t time = 100, const char* printer = "P") {
        tasks.push_back(makeTrackedTask(time, orderId, std::string("doc-") + orderId, printer, std::move(jobs)));
    }
    void job(int id, JobState state, int pagesPrinted = 0, const char* printer = "P") {
        snapshot[printer].push_back({id, "doc", 1, pagesPrinted, state});
    }
    std::string collect(std::int32_t monitorTime = 0, std::int32_t now = 100, MissingJob missing = MissingJob::Unknown) {
        std::string result;
        const std::size_t length = collectPrintedTasks(tasks, snapshot, result, monitorTime, now, missing,
                                                       [&](const TrackedTask& task, int job, bool known) {
                                                           notPrinted.push_back(task.orderId + ":" + std::to_string(job) +
                                                                                (known ? "" : "?"));
                                                       });
        EXPECT_EQ(length, result.size());
        return result;
    }
    std::vector<TrackedTask> tasks;
    JobSnapshot snapshot;
    std::vector<std::string> notPrinted;
};

TEST_F(Collect, PrintedOnlyWhenEveryJobCompleted) {
    add("done", {1, 2});
    add("begun", {3});
    add("partly", {4, 5});
    add("waiting", {6});
    job(1, JobState::Completed);
    job(2, JobState::Completed);
    job(3, JobState::Waiting, 1);
    job(4, JobState::Completed);
    job(5, JobState::Waiting);
    job(6, JobState::Waiting);
    EXPECT_EQ(collect(60), "done");
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0].orderId, "begun");
    EXPECT_TRUE(notPrinted.empty());
}

TEST_F(Collect, CancelledAbortedOrVanishedJobsAreNotPrinted) {
    add("cancelled", {1, 2});
    add("vanished", {3});
    job(1, JobState::Completed);
    job(2, JobState::Failed);
    EXPECT_EQ(collect(3600), "");
    EXPECT_TRUE(tasks.empty());
    EXPECT_EQ(notPrinted, (std::vector<std::string>{"cancelled:2", "vanished:3?"}));
}

// Where the spooler forgets finished jobs, one that left counts as printed
// unless it was last seen failing.
TEST_F(Collect, OnASpoolerThatForgetsTheLastWordSeenDecides) {
    add("left", {1});
    add("deleting", {2});
    job(2, JobState::Failed);
    EXPECT_EQ(collect(3600, 100, MissingJob::Left), "left");
    EXPECT_EQ(notPrinted, (std::vector<std::string>{"deleting:2"}));
}

TEST_F(Collect, TasksOfPrintersNotReadAreNotJudged) {
    add("elsewhere", {1}, 100, "Other");
    add("here", {2});
    job(2, JobState::Completed);
    EXPECT_EQ(collect(0, 5000), "here");
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].orderId, "elsewhere");
    EXPECT_TRUE(notPrinted.empty());
}

TEST_F(Collect, WaitingTaskExpiresOnlyAfterMonitorTime) {
    add("1", {1}, 1000);
    job(1, JobState::Waiting);
    EXPECT_EQ(collect(60, 1060), "");
    EXPECT_EQ(tasks.size(), 1u);
    EXPECT_EQ(collect(60, 1061), "");
    EXPECT_TRUE(tasks.empty());
    // A task whose printing has begun does not expire.
    add("2", {2}, 1000);
    job(2, JobState::Printing);
    EXPECT_EQ(collect(60, 5000), "");
    EXPECT_EQ(tasks.size(), 1u);
    tasks.clear();
    // Times compare as signed 32-bit seconds, also across the wrap.
    add("3", {3}, INT32_MAX - 5);
    job(3, JobState::Waiting);
    EXPECT_EQ(collect(10, INT32_MIN + 3), "");
    EXPECT_EQ(tasks.size(), 1u);
    EXPECT_TRUE(notPrinted.empty());
}

TEST_F(Collect, EveryPairOfIdsIsSeparated) {
    add("12345", {1});
    add("67890", {2});
    add("1", {3});
    for (int id : {1, 2, 3}) job(id, JobState::Completed);
    EXPECT_EQ(collect(), "12345,67890,1");
}

TEST_F(Collect, AnIdIsGivenOncePerAnswerDecidedOnWholeIds) {
    add("123", {1});
    add("12", {2});
    add("123", {3});
    for (int id : {1, 2, 3}) job(id, JobState::Completed);
    EXPECT_EQ(collect(), "123,12");
    EXPECT_TRUE(tasks.empty());
}

TEST(GetPrintedTasks, EmptyListOrUnknownPrintersGiveNothing) {
    DriverPrinter printer;
    int asked = 0;
    printer.queries.jobs = [&](const std::string&) -> std::optional<std::vector<platform::QueuedJob>> {
        ++asked;
        return std::nullopt;
    };
    EXPECT_EQ(printer.GetPrintedTasks(""), "");
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(printer.GetPrintedTasks("NoSuchPrinter,Other,"), "");
    EXPECT_EQ(asked, 2);
}

}  // namespace
