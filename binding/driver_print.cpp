// Driver printing: receipts as RAW spooler documents, the drawn test page,
// and the tracked tasks that receipts with an order id leave behind.
#include <chrono>
#include <thread>

#include "addon_log.h"
#include "conversions.h"
#include "driver_printer.h"

namespace {

using namespace std::string_view_literals;

constexpr char kWrapperDocument[] = "zorvoldinterface";
constexpr char kParagraphDocument[] = "tamq_doc";
constexpr char kTrackedDocumentPrefix[] = "tamq_";
constexpr char kTestDocument[] = "pelloqtest";
// Time the spooler gets to take the jobs before the queue is counted again.
constexpr auto kSpoolerSettle = std::chrono::milliseconds(200);

// The test page's texts, in code page 936.
constexpr std::string_view kProductName = "\xC5\xE5\xC2\xE5\xBF\xCB\xCB\xB9"sv;  // 佩洛克斯
constexpr std::string_view kDriverLabel = "\xC7\xFD\xB6\xAF:"sv;                // 驱动:
constexpr std::string_view kTestSucceeded =
    "\xB2\xE2\xCA\xD4\xB3\xC9\xB9\xA6,\xC7\xFD\xB6\xAF\xBF\xC9\xD3\xC3\xA3\xA1"sv;  // 测试成功,驱动可用！

class SpoolerSink : public RouteSink {
public:
    explicit SpoolerSink(platform::RawDocument& document) : document_(document) {}
    void write(std::string_view bytes) override { document_.write(bytes.data(), bytes.size()); }

private:
    platform::RawDocument& document_;
};

}  // namespace

int DriverPrinter::PrintOrder(const std::string& receipt) {
    const std::string printer = printerName();
    const int before = queries.jobCount(printer);
    const std::string text = utf8ToAnsi(receipt);
    // The order id only names the task; the paragraphs print as they stand.
    std::string orderId;
    {
        std::string rest = text;
        splitOrderId(rest, orderId);
    }
    const std::string documentName = orderId.empty() ? kParagraphDocument : trackedDocumentName(orderId);

    int documents = 0;
    {
        platform::WrapperDocument wrapper(printer, kWrapperDocument);
        for (const std::string_view paragraph : splitParagraphs(text, Route::Spooler)) {
            if (PrintPara(printer, wrapper, tokenizeSegments(paragraph), documentName) == 0) ++documents;
        }
        wrapper.end();
    }
    // A receipt none of whose documents reached the spooler is not tracked:
    // with no jobs to wait for it would count as printed at once.
    if (!orderId.empty() && documents > 0) {
        std::lock_guard guard(tasksLock_);
        trackedTasks.push_back(makeTrackedTask(queries.clock(), orderId, documentName, documents));
    }
    std::this_thread::sleep_for(kSpoolerSettle);
    const int after = queries.jobCount(printer);
    return after > before ? 0 : 1;
}

int DriverPrinter::PrintPara(const std::string& printer, platform::WrapperDocument& wrapper,
                             const std::vector<ReceiptSegment>& segments, const std::string& documentName) {
    logLine("PrintPara");
    platform::RawDocument document(printer, documentName);
    if (!document.isOpen()) return -1;
    SpoolerSink sink(document);
    encodeParagraph(segments, Route::Spooler, sink);
    document.end();
    wrapper.endPage();
    return 0;
}

int DriverPrinter::PrintTestMsg() {
    logLine("PrintTestMsg");
    const std::string printer = printerName();
    const int before = queries.jobCount(printer);
    printTestPage();
    std::this_thread::sleep_for(kSpoolerSettle);
    const int after = queries.jobCount(printer);
    return after > before ? 1 : 0;
}

int DriverPrinter::printTestPage() {
    const std::string printer = printerName();
    const std::vector<platform::TextLine> lines{
        {std::string(kProductName), 0, 0, 380, 50},
        {std::string(kDriverLabel) + printer, 0, 50, 380, 100},
        {std::string(kTestSucceeded), 0, 100, 380, 150},
        {" ", 0, 150, 380, 300},
    };
    platform::printTextPage(printer, kTestDocument, lines);
    return 0;
}

// "tamq_" and the order id, cut to the record's 33 bytes; a name that a
// tracked task already has (the same order printed again, or a long id cut to
// the same bytes) gets a number, so that no two tasks count each other's jobs.
std::string DriverPrinter::trackedDocumentName(const std::string& orderId) {
    std::lock_guard guard(tasksLock_);
    const std::string base = kTrackedDocumentPrefix + orderId;
    auto taken = [&](const std::string& name) {
        for (const auto& task : trackedTasks) {
            if (name == task.documentName) return true;
        }
        return false;
    };
    std::string name = base.substr(0, kMaxTrackedDocumentName);
    while (taken(name)) {
        std::string suffix(1, '#');
        suffix += std::to_string(++documentSequence_);
        name = base.substr(0, kMaxTrackedDocumentName - suffix.size()) + suffix;
    }
    return name;
}

std::string DriverPrinter::GetPrintedTasks(const std::string& printerList) {
    std::string result;
    const std::vector<std::string> names = splitOnComma(printerList);
    if (names.empty()) return result;
    // Only tasks recorded before the queues are read are judged by them; a
    // task a worker records meanwhile waits for the next call.
    std::vector<TrackedTask> tasks;
    {
        std::lock_guard guard(tasksLock_);
        tasks.swap(trackedTasks);
    }
    JobSnapshot snapshot;
    snapshotJobs(names, snapshot, queries.jobs);
    collectPrintedTasks(tasks, snapshot, result, monitorTime.load(), queries.clock());
    {
        std::lock_guard guard(tasksLock_);
        trackedTasks.insert(trackedTasks.begin(), tasks.begin(), tasks.end());
    }
    return result;
}
