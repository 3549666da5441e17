#include "async_print.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "addon_log.h"
#include "conversions.h"
#include "driver_printer.h"

namespace {

PrintRequest& requestOf(uv_work_t* work) { return *static_cast<PrintRequest*>(work->data); }

// The queue and its thread. Never destroyed: the thread may still be in a
// print while the process's static objects are torn down.
class PrintQueue {
public:
    void push(std::unique_ptr<PrintRequest> request) {
        std::lock_guard guard(lock_);
        if (!started_) {
            started_ = true;
            std::thread([this] { run(); }).detach();
            std::atexit([] { instance().drainAtExit(); });
        }
        waiting_.push_back(std::move(request));
        wake_.notify_one();
    }

    static PrintQueue& instance() {
        static PrintQueue* queue = new PrintQueue;
        return *queue;
    }

private:
    void run() {
        for (;;) {
            std::unique_ptr<PrintRequest> request;
            {
                std::unique_lock hold(lock_);
                wake_.wait(hold, [this] { return !waiting_.empty(); });
                request = std::move(waiting_.front());
                waiting_.pop_front();
                busy_ = true;
            }
            request->step(&request->work);
            request.reset();
            std::lock_guard guard(lock_);
            busy_ = false;
            if (waiting_.empty()) idle_.notify_all();
        }
    }

    // Runs on the exiting thread: queued receipts still print, within the
    // bound; the rest are logged, none dropped in silence.
    void drainAtExit() {
        std::deque<std::unique_ptr<PrintRequest>> rest;
        bool running = false;
        {
            std::unique_lock hold(lock_);
            idle_.wait_for(hold, kExitDrain, [this] { return waiting_.empty() && !busy_; });
            rest.swap(waiting_);
            running = busy_;
        }
        if (running) logLine("process exit: a print still running is not reported printed");
        for (const auto& request : rest) {
            if (request->receipt()) logLine("process exit: not printed: %s", request->text);
        }
        addon_log::flush();
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::unique_ptr<PrintRequest>> waiting_;
    bool busy_ = false;
    bool started_ = false;
};

}  // namespace

void printAsync(uv_work_t* work) {
    const PrintRequest& request = requestOf(work);
    logLine("WritePrintData %s", request.text);
    // The id is recorded as the script wrote it, not as the code page holds it.
    std::string receipt = request.text;
    std::string orderId;
    std::optional<std::string> reportedId;
    if (splitOrderId(receipt, orderId)) reportedId = orderId;
    const int result = request.printer->usbPrinter.WritePrintData(utf8ToAnsi(request.text), reportedId);
    logLine("printAsync ret: %d", result);
}

void driverPrintAsync(uv_work_t* work) {
    const PrintRequest& request = requestOf(work);
    logLine("PrintOrder %s", request.text);
    const int result = request.printer->PrintOrder(request.text);
    logLine("driverPrintAsync ret: %d", result);
}

void spoolerStatusAsync(uv_work_t* work) {
    const PrintRequest& request = requestOf(work);
    request.printer->readSpoolerStatus(request.text);
}

bool PrintRequest::receipt() const { return step == driverPrintAsync || step == printAsync; }

void queuePrintRequest(std::unique_ptr<PrintRequest> request) { PrintQueue::instance().push(std::move(request)); }
