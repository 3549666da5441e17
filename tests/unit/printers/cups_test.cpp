// Driver printing and job tracking against a real CUPS scheduler started by
// with-cupsd (see there for its queues). Natively each case has a scheduler of
// its own; under Wine the whole binary shares one, reached through Wine's
// spooler, whose job counts and listings are empty: there the counts and
// listings come through the printer's spooler queries instead.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "binding/driver_printer.h"
#include "tests/unit/printers/printer_test_files.h"

using namespace binding;

namespace {

using namespace printer_test;
using namespace std::string_literals;

fs::path cupsFolder() {
    const char* folder = std::getenv("ORVANE_TEST_CUPS_DIR");
    if (folder == nullptr) return {};
#ifdef _WIN32
    return fs::path("Z:" + std::string(folder));
#else
    return fs::path(folder);
#endif
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

struct CapturedJob {
    std::string bytes;
    std::string title;
};

// The jobs a captured queue's backend received, from the construction on.
class JobCapture {
public:
    explicit JobCapture(const std::string& queue) : folder_(cupsFolder() / "out" / queue), seen_(jobIds()) {}

    // Waits for `count` new jobs whose title starts with `titlePrefix`.
    std::vector<CapturedJob> newJobs(std::size_t count, const std::string& titlePrefix = "") const {
        std::vector<CapturedJob> jobs;
        eventually([&] {
            jobs = collect(titlePrefix);
            return jobs.size() >= count;
        });
        return jobs;
    }

private:
    std::set<long> jobIds() const {
        std::set<long> ids;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder_, ec)) {
            const std::string name = entry.path().filename().string();
            if (!name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) ids.insert(std::stol(name));
        }
        return ids;
    }

    std::vector<CapturedJob> collect(const std::string& titlePrefix) const {
        std::vector<CapturedJob> jobs;
        for (long id : jobIds()) {
            if (seen_.count(id) != 0) continue;
            const fs::path file = folder_ / std::to_string(id);
            CapturedJob job{readBytes(file), readBytes(file.string() + ".title")};
            if (job.title.rfind(titlePrefix, 0) == 0) jobs.push_back(std::move(job));
        }
        return jobs;
    }

    fs::path folder_;
    std::set<long> seen_;
};

class CupsPrinting : public ::testing::Test {
protected:
    void SetUp() override {
        if (cupsFolder().empty()) GTEST_SKIP() << "needs the scheduler of with-cupsd";
    }
};

const std::string kTwoParagraphs = "<p_s><c1>Table 5<h2>\nTea x2\n<bc>12345<p_e>not printed<p_s>Thanks<p_e>";
// The first paragraph write by write; the second has no tag: a blank cut.
const std::string kFirstDocument =
    "\x1B\x40"s "\x1B\x61\x01" "\x1B\x21\x30" "Table 5" "\x1B\x61\x00"s "\x1B\x21\x08" "\nTea x2\n"
    "\x1B\x61\x01" "\x1D\x68\x3C" "\x1D\x77\x02" "\x1D\x6B\x49\x07\x7B\x42" "12345" "\n" "\n" "\x1D\x56\x41\x01";
const std::string kBlankCut = "\x1B\x40\n\n\x1D\x56\x41\x01";

TEST_F(CupsPrinting, EachParagraphIsOneRawJobFromInitialiseToCut) {
    JobCapture capture("Receipt");
    DriverPrinter printer;
    printer.setPrinterName("Receipt");
    printer.PrintOrder(kTwoParagraphs);
    const auto jobs = capture.newJobs(2, "tamq_");
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(hex(jobs[0].bytes), hex(kFirstDocument));
    EXPECT_EQ(hex(jobs[1].bytes), hex(kBlankCut));
    EXPECT_EQ(jobs[0].title, "tamq_doc");
    EXPECT_EQ(jobs[1].title, "tamq_doc");
    EXPECT_TRUE(printer.trackedTaskList().empty());
}

TEST_F(CupsPrinting, MissingPrinterPrintsNothingAndTracksNothing) {
    DriverPrinter printer;
    printer.setPrinterName("NoSuchPrinter");
    // Both counts are -1, so the queue did not grow.
    EXPECT_EQ(printer.PrintOrder("<p_s><h1>A<p_e><o_s>9001<o_e>"), 1);
    EXPECT_TRUE(printer.trackedTaskList().empty());
    EXPECT_EQ(printer.PrintTestMsg(), 0);
    EXPECT_EQ(queuedJobCount("NoSuchPrinter"), -1);
    EXPECT_EQ(queuedJobCount("Receipt"), 0);
}

// Under Wine the queue is seen through the spooler queries only.
TEST_F(CupsPrinting, OrderIsTrackedUntilItsJobsLeaveTheQueue) {
    JobCapture capture("Receipt");
    DriverPrinter printer;
    printer.setPrinterName("Receipt");
    std::vector<platform::QueuedJob> queue;
    printer.queries.jobs = [&](const std::string& name) -> std::optional<std::vector<platform::QueuedJob>> {
        if (name != "Receipt") return std::nullopt;
        return queue;
    };
    std::int32_t now = 1000;
    printer.queries.clock = [&] { return now; };

    printer.PrintOrder("<p_s><h1>A<p_e><p_s><h1>B<p_e><o_s>A1001<o_e>");
    const auto jobs = capture.newJobs(2, "tamq_");
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].title, "tamq_A1001");
    EXPECT_EQ(hex(jobs[1].bytes), hex("\x1B\x40" "\x1B\x61\x00"s "\x1B\x21\x02" "B" "\n\n\x1D\x56\x41\x01"));
    const auto tasks = printer.trackedTaskList();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].orderId, "A1001");
    EXPECT_EQ(tasks[0].documentName, "tamq_A1001");
    EXPECT_EQ(tasks[0].printer, "Receipt");
    ASSERT_EQ(tasks[0].jobIds.size(), 2u);
    EXPECT_EQ(tasks[0].time, 1000);

    // Judged on its own jobs' states, and only when its printer's queue was read.
    const auto state = [&](platform::JobState first, platform::JobState second) {
        queue = {{tasks[0].jobIds[0], "tamq_A1001", 1, 0, first}, {tasks[0].jobIds[1], "tamq_A1001", 1, 0, second}};
    };
    printer.monitorTime = 60;
    now = 1060;
    state(platform::JobState::Waiting, platform::JobState::Waiting);
    EXPECT_EQ(printer.GetPrintedTasks("Receipt"), "");
    state(platform::JobState::Completed, platform::JobState::Printing);
    EXPECT_EQ(printer.GetPrintedTasks("Receipt"), "");
    state(platform::JobState::Completed, platform::JobState::Completed);
    EXPECT_EQ(printer.GetPrintedTasks("Missing,Kitchen"), "");
    EXPECT_EQ(printer.trackedTaskList().size(), 1u);
    EXPECT_EQ(printer.GetPrintedTasks("Missing,Receipt"), "A1001");
    EXPECT_EQ(printer.GetPrintedTasks("Receipt"), "");
}

TEST_F(CupsPrinting, ReprintOfAnOrderGetsItsOwnDocumentName) {
    DriverPrinter printer;
    printer.setPrinterName("Receipt");
    // A spooler that forgets finished jobs: gone means printed.
    printer.queries.jobs = [](const std::string&) { return std::vector<platform::QueuedJob>{}; };
    printer.queries.keepsFinishedJobs = [] { return false; };
    printer.PrintOrder("<p_s><h1>A<p_e><o_s>77<o_e>");
    printer.PrintOrder("<p_s><h1>A<p_e><o_s>77<o_e>");
    printer.PrintOrder("<p_s><h1>A<p_e><o_s>" + std::string(40, '9') + "<o_e>");
    const auto tasks = printer.trackedTaskList();
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0].documentName, "tamq_77");
    EXPECT_NE(tasks[1].documentName, "tamq_77");
    EXPECT_EQ(tasks[2].orderId, std::string(40, '9'));
    EXPECT_EQ(tasks[2].documentName, "tamq_" + std::string(40, '9'));
    // Both tasks of order 77 are printed; the answer names the order once.
    EXPECT_EQ(printer.GetPrintedTasks("Receipt"), "77," + std::string(40, '9'));
    // Their names are free again.
    printer.PrintOrder("<p_s><h1>A<p_e><o_s>77<o_e>");
    EXPECT_EQ(printer.trackedTaskList().at(0).documentName, "tamq_77");
}

TEST_F(CupsPrinting, LocalListingIncludesTheReceiptQueueWithItsPort) {
    std::vector<PrinterEntry> list{{"kept", "first"}};
    const int length = enumLocalPrinters(list);
    EXPECT_EQ(length, static_cast<int>(list.size()));
    EXPECT_EQ(list.front(), (PrinterEntry{"kept", "first"}));
    const auto receipt = std::find_if(list.begin(), list.end(), [](auto& e) { return e.name == "Receipt"; });
    ASSERT_NE(receipt, list.end());
    EXPECT_FALSE(receipt->port.empty());

    std::vector<PrinterEntry> combined{{"stale", "entry"}};
    const int count = listSpoolerPrinters(combined);
    EXPECT_EQ(count, static_cast<int>(combined.size()));
    EXPECT_EQ(std::count(combined.begin(), combined.end(), PrinterEntry{"stale", "entry"}), 0);
    EXPECT_TRUE(std::equal(list.begin() + 1, list.end(), combined.begin()));
}

TEST_F(CupsPrinting, StatusOfAnIdleQueueAndOfNamesTheSpoolerLacks) {
    EXPECT_EQ(spoolerStatusOf(platform::printerConditions("Receipt")), PrinterStatus::Ready);
    EXPECT_EQ(spoolerStatusOf(platform::printerConditions("NoSuchPrinter")), PrinterStatus::Absent);
    EXPECT_EQ(spoolerStatusOf(platform::printerConditions("")), PrinterStatus::Absent);
}

#ifndef _WIN32
// The scheduler's own counts and listings, the queue's state changed with
// the CUPS tools.

void cupsTool(const std::string& command) { ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command; }

// Held stopped and empty, also when the cases share one scheduler.
void pauseHeldQueue() {
    cupsTool("cupsdisable Held");
    cupsTool("cancel -a Held");
    ASSERT_TRUE(eventually([] { return queuedJobCount("Held") == 0; }));
}

TEST_F(CupsPrinting, DriverDecidesTheFilterNotTheName) {
    std::vector<PrinterEntry> list;
    enumLocalPrinters(list);
    const std::string root = cupsFolder().string();
    const std::vector<PrinterEntry> expected{{"Fax-Counter", "capture:" + root + "/out"},
                                             {"Held", "capture:" + root + "/out/Held"},
                                             {"Kitchen", "capture:" + root + "/out"},
                                             {"Receipt", "capture:" + root + "/out/Receipt"}};
    EXPECT_EQ(list, expected);
    std::vector<PrinterEntry> remote;
    EXPECT_EQ(enumRemotePrinters(remote), 0);
}

TEST_F(CupsPrinting, QueuedJobCountOfIdleAndPausedQueues) {
    pauseHeldQueue();
    DriverPrinter printer;
    printer.setPrinterName("Held");
    EXPECT_EQ(queuedJobCount("Held"), 0);
    // The two documents wait in the stopped queue, so the queue grew.
    EXPECT_EQ(printer.PrintOrder(kTwoParagraphs), 0);
    EXPECT_EQ(queuedJobCount("Held"), 2);
    EXPECT_EQ(queuedJobCount("Receipt"), 0);
    // Without a paragraph nothing reaches the queue.
    EXPECT_EQ(printer.PrintOrder("<h1>no paragraph"), 1);
    EXPECT_EQ(queuedJobCount("Held"), 2);
}

TEST_F(CupsPrinting, WaitingTaskStaysForMonitorTimeThenExpires) {
    pauseHeldQueue();
    DriverPrinter printer;
    printer.setPrinterName("Held");
    std::int32_t now = 5000;
    printer.queries.clock = [&] { return now; };
    printer.monitorTime = 30;
    printer.PrintOrder("<p_s><h1>A<p_e><p_s><h1>B<p_e><o_s>7001<o_e>");

    JobSnapshot snapshot;
    snapshotJobs({"Held", "NoSuchPrinter"}, snapshot, platform::listQueuedJobs);
    EXPECT_EQ(snapshot.count("NoSuchPrinter"), 0u);
    const auto& held = snapshot["Held"];
    const auto waiting = std::count_if(held.begin(), held.end(), [](const platform::QueuedJob& job) {
        return job.document == "tamq_7001" && job.state == platform::JobState::Waiting && job.id > 0;
    });
    EXPECT_EQ(waiting, 2);

    now = 5030;
    EXPECT_EQ(printer.GetPrintedTasks("Held"), "");
    EXPECT_EQ(printer.trackedTaskList().size(), 1u);
    now = 5031;
    EXPECT_EQ(printer.GetPrintedTasks("Held"), "");
    EXPECT_TRUE(printer.trackedTaskList().empty());
}

TEST_F(CupsPrinting, TaskIsReportedOnceAfterItsJobsLeave) {
    pauseHeldQueue();
    JobCapture capture("Held");
    DriverPrinter printer;
    printer.setPrinterName("Held");
    printer.monitorTime = 3600;
    printer.PrintOrder("<p_s><h1>A<p_e><p_s><h1>B<p_e><o_s>7002<o_e>");
    EXPECT_EQ(printer.GetPrintedTasks("Held"), "");

    cupsTool("cupsenable Held");
    const auto jobs = capture.newJobs(2, "tamq_7002");
    ASSERT_EQ(jobs.size(), 2u);
    ASSERT_TRUE(eventually([] { return queuedJobCount("Held") == 0; }));
    EXPECT_EQ(printer.GetPrintedTasks("Held,Receipt"), "7002");
    EXPECT_EQ(printer.GetPrintedTasks("Held,Receipt"), "");
}

TEST_F(CupsPrinting, TestPageIsATextJobThatGrowsTheQueue) {
    pauseHeldQueue();
    JobCapture capture("Held");
    DriverPrinter printer;
    printer.setPrinterName("Held");
    EXPECT_EQ(printer.PrintTestMsg(), 1);
    cupsTool("cupsenable Held");
    const auto jobs = capture.newJobs(1, "pelloqtest");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(hex(jobs[0].bytes), hex("\xC5\xE5\xC2\xE5\xBF\xCB\xCB\xB9\n"
                                      "\xC7\xFD\xB6\xAF:Held\n"
                                      "\xB2\xE2\xCA\xD4\xB3\xC9\xB9\xA6,\xC7\xFD\xB6\xAF\xBF\xC9\xD3\xC3\xA3\xA1\n"
                                      " \n"));
}

TEST_F(CupsPrinting, PrinterWindowsOpenTheWebInterfacePages) {
    ScratchFolder bin;
    const fs::path opened = bin.path() / "opened";
    writeBytes(bin.path() / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened.string() + "'\n");
    fs::permissions(bin.path() / "xdg-open", fs::perms::owner_all);
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
    ::setenv("PATH", (bin.path().string() + ":" + path).c_str(), 1);

    EXPECT_FALSE(openPrinterQueue("NoSuchPrinter"));
    EXPECT_FALSE(openPrinterProperties("NoSuchPrinter"));
    EXPECT_TRUE(openPrinterQueue("Fax-Counter"));
    ASSERT_TRUE(eventually([&] { return readBytes(opened).size() > 0; }));
    EXPECT_TRUE(openPrinterProperties("Fax-Counter"));
    ASSERT_TRUE(eventually([&] {
        const std::string lines = readBytes(opened);
        return std::count(lines.begin(), lines.end(), '\n') == 2;
    }));
    // The port is the scheduler's default one (631 unless IPP_PORT says otherwise).
    const std::regex pages("http://localhost:[0-9]+/printers/Fax-Counter\n"
                           "http://localhost:[0-9]+/admin/\\?op=set-printer-options&printer_name=Fax-Counter\n");
    EXPECT_TRUE(std::regex_match(readBytes(opened), pages)) << readBytes(opened);
    ::setenv("PATH", path.c_str(), 1);
}
#endif

}  // namespace
