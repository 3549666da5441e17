// Receipts queued when the process ends: the print core loaded as a library
// into a host program that ends as the script runtime can, with or without
// the runtime's exit notice first. The process ends, and every receipt is
// printed or has its outcome logged, none lost in silence. Under Wine the
// library is a DLL, whose exit handlers run after ExitProcess has ended the
// print and log threads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <ostream>
#include <regex>
#include <sstream>

#include "binding/driver_printer.h"
#include "tests/unit/printers/fake_usb_tree.h"
#include "tests/unit/printers/printer_test_files.h"

using namespace binding;

namespace {

using namespace printer_test;

constexpr char kModel[] = "VID_0416&PID_5011";
#ifdef _WIN32
constexpr char kHost[] = "exit_host.exe";
constexpr char kLibrary[] = "orvane_print_core.dll";
constexpr bool kThreadsRunInExitHandlers = false;
#else
constexpr char kHost[] = "exit_host";
constexpr char kLibrary[] = "orvane_print_core.so";
constexpr bool kThreadsRunInExitHandlers = true;
#endif

enum class Device { TakesAll, Stuck };
enum class Outcome { Printed, Failed, RunningAtExit, NotPrinted };
// What every receipt must come to; PrintedOrLogged takes any outcome.
enum class Expect { AllPrinted, AllFailed, PrintedOrLogged };

struct ExitCase {
    const char* name;
    const char* ending;  // "notice": the runtime's exit notice, then the end; "exit": the end alone
    Device device;
    int receipts;
    int writeTimeoutMs;
    Expect expect;                 // where the library's exit handlers run with the other threads
    Expect expectThreadsGone;      // where they run after the other threads were ended
};

// On a stuck device every receipt, 1 MiB longer, fills what the device
// buffers and then waits in a write until its time-out.
const ExitCase kExitCases[] = {
    {"NoticeThenEndDeviceTakesAll", "notice", Device::TakesAll, 20, 10000, Expect::AllPrinted, Expect::AllPrinted},
    {"EndAloneDeviceTakesAll", "exit", Device::TakesAll, 20, 10000, Expect::AllPrinted, Expect::PrintedOrLogged},
    {"NoticeThenEndStuckDevice", "notice", Device::Stuck, 4, 300, Expect::AllFailed, Expect::AllFailed},
    {"EndAloneStuckDevice", "exit", Device::Stuck, 4, 2000, Expect::AllFailed, Expect::PrintedOrLogged},
};

void PrintTo(const ExitCase& c, std::ostream* out) { *out << c.name; }

// The receipt number a log message names, or -1.
int receiptIn(const std::string& message) {
    static const std::regex id("<p_s><h1>R([0-9]{2})");
    std::smatch found;
    return std::regex_search(message, found, id) ? std::stoi(found[1]) : -1;
}

class ProcessEnd : public ::testing::TestWithParam<ExitCase> {
protected:
    // Runs the host; gives its exit status.
    int runHost(const ExitCase& c, std::size_t big) {
        for (const char* file : {kHost, kLibrary})
            fs::copy_file(fs::path(executableFolder()) / file, folder_.path() / file);
        fs::create_directories(folder_.path() / "log");
        std::string command = shellQuoted((folder_.path() / kHost).string()) + " " + c.ending + " " +
                              shellQuoted(kModel) + " " + std::to_string(c.writeTimeoutMs) + " " +
                              std::to_string(c.receipts) + " " + std::to_string(big);
        const auto start = std::chrono::steady_clock::now();
        const int status = runCommand(std::move(command));
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        // Not judged: the figure for the record.
        std::printf("%s: the host ran and ended in %lld ms\n", c.name, static_cast<long long>(took.count()));
        return status;
    }

    std::vector<std::string> messages() const { return logMessages(folder_.path()); }

    ScratchFolder folder_;
};

TEST_P(ProcessEnd, EndsAndEveryReceiptIsPrintedOrLogged) {
    const ExitCase& c = GetParam();
    FakeUsbTree tree;
    tree.device("1-2", "0416", "5011", "POS58 Printer");
    tree.interface("1-2", "07", "usblp", "lp1");
    makeFifo(tree.node("lp1"));
    // A device that takes everything is read; a stuck one is not.
    std::optional<FifoReader> reader;
    if (c.device == Device::TakesAll) reader.emplace(tree.node("lp1"));
    ASSERT_EQ(runHost(c, c.device == Device::Stuck ? 1 << 20 : 0), 0);
    const std::string device = reader ? reader->finish() : std::string();

    // Each receipt's outcome from the log: its work step's result, or a
    // line of the process end.
    std::map<int, std::vector<Outcome>> outcomes;
    int printing = -1;
    for (const std::string& m : messages()) {
        const int receipt = receiptIn(m);
        if (m.rfind("WritePrintData ", 0) == 0) {
            printing = receipt;
        } else if (m.rfind("printAsync ret: ", 0) == 0) {
            outcomes[printing].push_back(m == "printAsync ret: 0" ? Outcome::Printed : Outcome::Failed);
            printing = -1;
        } else if (m.rfind("process exit: a print still running is not reported printed: ", 0) == 0) {
            EXPECT_EQ(receipt, printing) << m;
            outcomes[receipt].push_back(Outcome::RunningAtExit);
        } else if (m.rfind("process exit: not printed: ", 0) == 0) {
            outcomes[receipt].push_back(Outcome::NotPrinted);
        } else {
            EXPECT_EQ(m.rfind("process exit", 0), std::string::npos) << m;
        }
    }
    const Expect expect = kThreadsRunInExitHandlers ? c.expect : c.expectThreadsGone;
    for (int r = 0; r < c.receipts; ++r) {
        const std::string id = (r < 10 ? "R0" : "R") + std::to_string(r);
        ASSERT_EQ(outcomes[r].size(), 1u) << id << " has no outcome, or more than one";
        const Outcome outcome = outcomes[r][0];
        if (expect == Expect::AllPrinted) {
            EXPECT_EQ(outcome, Outcome::Printed) << id;
        } else if (expect == Expect::AllFailed) {
            EXPECT_EQ(outcome, Outcome::Failed) << id;
        }
        if (c.device == Device::TakesAll && outcome == Outcome::Printed) {
            EXPECT_NE(device.find(id + "\n\n\n"), std::string::npos) << id << " is not on the device";
        }
        if (outcome == Outcome::NotPrinted) {
            EXPECT_EQ(device.find(id), std::string::npos) << id << " printed all the same";
        }
    }
    EXPECT_EQ(outcomes.count(-1), 0u) << "a result without its receipt";
    std::map<Outcome, int> tally;
    for (const auto& [receipt, ends] : outcomes)
        for (const Outcome end : ends) ++tally[end];
    std::printf("%s: %d printed, %d failed, %d running at the end, %d not printed at the end\n", c.name,
                tally[Outcome::Printed], tally[Outcome::Failed], tally[Outcome::RunningAtExit],
                tally[Outcome::NotPrinted]);
}

INSTANTIATE_TEST_SUITE_P(Table, ProcessEnd, ::testing::ValuesIn(kExitCases),
                         [](const auto& c) { return std::string(c.param.name); });

}  // namespace
