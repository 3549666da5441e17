// The spooler route: receipts as RAW spooler documents, and the drawn test page.
#include <chrono>
#include <thread>

#include "binding/addon_log.h"
#include "binding/conversions.h"
#include "binding/driver_printer.h"

namespace binding {

namespace {

using namespace std::string_view_literals;

constexpr char kWrapperDocument[] = "zorvoldinterface";
constexpr char kParagraphDocument[] = "tamq_doc";
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
            trackedTasks_.push_back(makeTrackedTask(queries.clock(), orderId, documentName, printer, std::move(jobs)));
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

}  // namespace binding
