// Driver printing: receipts as RAW spooler documents, the drawn test page,
// and the tracked tasks that receipts with an order id leave behind.
#include <chrono>
#include <set>
#include <thread>

#include "binding/addon_log.h"
#include "binding/conversions.h"
#include "binding/driver_printer.h"

namespace binding {

namespace {

using namespace std::string_view_literals;

constexpr char kWrapperDocument[] = "zorvoldinterface";
constexpr char kParagraphDocument[] = "tamq_doc";
constexpr char kTrackedDocumentPrefix[] = "tamq_";
// The longest job name the spooler keeps (an IPP name).
constexpr std::size_t kMaxDocumentName = 255;
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
    // It is reported as the script gave it, so it is taken from the UTF-8 text.
    std::string orderId;
    {
        std::string rest = receipt;
        splitOrderId(rest, orderId);
    }
    std::string documentName = kParagraphDocument;
    if (!orderId.empty()) documentName = reserveDocumentName(utf8ToAnsi(orderId));

    std::vector<int> jobs;
    {
        platform::WrapperDocument wrapper(printer, kWrapperDocument);
        for (const std::string_view paragraph : splitParagraphs(text, Route::Spooler)) {
            const int job = PrintPara(printer, wrapper, tokenizeSegments(paragraph), documentName);
            if (job > 0) jobs.push_back(job);
        }
        wrapper.end();
    }
    if (!orderId.empty()) {
        std::lock_guard guard(tasksLock_);
        // A receipt none of whose documents reached the spooler is not
        // tracked: with no jobs to wait for it would count as printed at once.
        if (jobs.empty()) {
            namesInUse_.erase(documentName);
        } else {
            trackedTasks.push_back(makeTrackedTask(queries.clock(), orderId, documentName, printer, std::move(jobs)));
        }
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
    // The job id lets tracking follow this very job; a spooler that gives
    // none still took the document.
    return document.jobId() > 0 ? document.jobId() : 0;
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

// "tamq_" and the order id (up to the spooler's name length); a name that a
// tracked task already has, or that a task being judged holds, gets a number,
// so that no two tasks count each other's jobs.
std::string DriverPrinter::reserveDocumentName(const std::string& ansiOrderId) {
    std::lock_guard guard(tasksLock_);
    const std::string base = kTrackedDocumentPrefix + ansiOrderId;
    std::string name = base.substr(0, kMaxDocumentName);
    while (namesInUse_.count(name) != 0) {
        std::string suffix(1, '#');
        suffix += std::to_string(++documentSequence_);
        name = base.substr(0, kMaxDocumentName - suffix.size()) + suffix;
    }
    namesInUse_.insert(name);
    return name;
}

std::string DriverPrinter::GetPrintedTasks(const std::string& printerList) {
    std::string result;
    const std::vector<std::string> names = splitOnComma(printerList);
    if (names.empty()) return result;
    // Only tasks recorded before the queues are read are judged by them; a
    // task a worker records meanwhile waits for the next call. The tasks
    // being judged keep their document names reserved.
    std::vector<TrackedTask> tasks;
    {
        std::lock_guard guard(tasksLock_);
        tasks.swap(trackedTasks);
    }
    std::set<std::string> left;
    for (const auto& task : tasks) left.insert(task.documentName);
    JobSnapshot snapshot;
    snapshotJobs(names, snapshot, queries.jobs);
    collectPrintedTasks(tasks, snapshot, result, monitorTime.load(), queries.clock(),
                        queries.keepsFinishedJobs() ? MissingJob::Unknown : MissingJob::Left,
                        [](const TrackedTask& task, int job, bool known) {
                            if (known) {
                                logLine("print task %s not printed: job %d was cancelled or aborted", task.orderId, job);
                            } else {
                                logLine("print task %s not printed: job %d is unknown to the spooler", task.orderId, job);
                            }
                        });
    for (const auto& task : tasks) left.erase(task.documentName);
    {
        std::lock_guard guard(tasksLock_);
        for (const auto& name : left) namesInUse_.erase(name);
        trackedTasks.insert(trackedTasks.begin(), tasks.begin(), tasks.end());
    }
    return result;
}

}  // namespace binding
