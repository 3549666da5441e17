// Job tracking's rules on snapshots made by hand: when a task counts as
// printed, when it expires, and how the answer is put together.
#include <gtest/gtest.h>

#include "driver_printer.h"
#include "job_tracking.h"

namespace {

using Pieces = std::vector<std::string>;

TEST(SplitOnComma, KeepsEmptyPiecesButNoEmptyRest) {
    EXPECT_EQ(splitOnComma("A,,B"), (Pieces{"A", "", "B"}));
    EXPECT_EQ(splitOnComma("A,"), (Pieces{"A"}));
    EXPECT_EQ(splitOnComma(",A"), (Pieces{"", "A"}));
    EXPECT_EQ(splitOnComma("A"), (Pieces{"A"}));
    EXPECT_EQ(splitOnComma(""), Pieces{});
}

TEST(TrackedTaskRecord, CutsOrderIdAndDocumentNameToTheirFields) {
    const TrackedTask task = makeTrackedTask(7, std::string(40, '1'), std::string(40, 'd'), 2);
    EXPECT_EQ(std::string(task.orderId), std::string(29, '1'));
    EXPECT_EQ(std::string(task.documentName), std::string(33, 'd'));
    EXPECT_EQ(task.time, 7);
    EXPECT_EQ(task.expectedJobs, 2);
}

TEST(JobSnapshotTally, CountsJobsByDocumentOverAllPrinters) {
    const auto lister = [](const std::string& printer) -> std::optional<std::vector<platform::QueuedJob>> {
        if (printer == "A") return std::vector<platform::QueuedJob>{{"doc", 3, 0}, {"other", 1, 1}, {"doc", 5, 2}};
        if (printer == "B") return std::vector<platform::QueuedJob>{{"doc", 9, 4}};
        if (printer == std::string(255, 'L')) return std::vector<platform::QueuedJob>{{"long", 1, 0}};
        return std::nullopt;
    };
    JobSnapshot snapshot{{"stale", {}}};
    snapshotJobs({"A", "missing", "B", std::string(300, 'L')}, snapshot, lister);
    ASSERT_EQ(snapshot.size(), 3u);
    EXPECT_EQ(snapshot.count("stale"), 0u);
    const JobTally& doc = snapshot["doc"];
    EXPECT_EQ(doc.count, 3);
    EXPECT_EQ(doc.totalPages, 3);    // the first job's
    EXPECT_EQ(doc.pagesPrinted, 2);  // replaced while it was 0, then kept
    EXPECT_EQ(doc.name, "doc");
    EXPECT_EQ(snapshot["long"].count, 1);  // the name reached the spooler cut to 255 bytes
}

class Collect : public ::testing::Test {
protected:
    void add(const char* orderId, const char* document, int expected, std::int32_t time = 100) {
        tasks.push_back(makeTrackedTask(time, orderId, document, expected));
    }
    std::string collect(std::int32_t monitorTime = 0, std::int32_t now = 100) {
        std::string result;
        const std::size_t length = collectPrintedTasks(tasks, snapshot, result, monitorTime, now);
        EXPECT_EQ(length, result.size());
        return result;
    }
    std::vector<TrackedTask> tasks;
    JobSnapshot snapshot;
};

TEST_F(Collect, PrintedWhenGoneBegunOrPartlyGone) {
    add("gone", "d1", 1);
    add("begun", "d2", 1);
    add("partly", "d3", 2);
    add("waiting", "d4", 2);
    snapshot["d2"] = {1, 1, 1, "d2"};
    snapshot["d3"] = {1, 1, 0, "d3"};
    snapshot["d4"] = {2, 1, 0, "d4"};
    EXPECT_EQ(collect(60), "gone,begun,partly");
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_STREQ(tasks[0].orderId, "waiting");
}

TEST_F(Collect, WaitingTaskExpiresOnlyAfterMonitorTime) {
    add("1", "d", 1, 1000);
    snapshot["d"] = {1, 1, 0, "d"};
    EXPECT_EQ(collect(60, 1060), "");
    EXPECT_EQ(tasks.size(), 1u);
    EXPECT_EQ(collect(60, 1061), "");
    EXPECT_TRUE(tasks.empty());
    // Times compare as signed 32-bit seconds, also across the wrap.
    add("2", "d", 1, INT32_MAX - 5);
    EXPECT_EQ(collect(10, INT32_MIN + 3), "");
    EXPECT_EQ(tasks.size(), 1u);
}

TEST_F(Collect, EveryPairOfIdsIsSeparated) {
    add("12345", "a", 1);
    add("67890", "b", 1);
    add("1", "c", 1);
    EXPECT_EQ(collect(), "12345,67890,1");
}

TEST_F(Collect, RepeatsAreDecidedOnWholeIds) {
    snapshot["p"] = {1, 1, 1, "p"};
    add("123", "gone", 1);
    add("12", "p", 1);
    add("123", "p", 1);
    // A task whose jobs have left is reported even when its id is already there.
    add("123", "gone", 1);
    EXPECT_EQ(collect(), "123,12,123");
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
