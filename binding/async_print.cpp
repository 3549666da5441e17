#include "binding/async_print.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "binding/addon_log.h"
#include "binding/conversions.h"
#include "binding/driver_printer.h"
#include "platform/process_exit.h"

namespace binding {

namespace {

// The queue and its thread. Never destroyed: the thread may still be in a
// print while the process's static objects are torn down.
class PrintQueue {
public:
    void push(std::unique_ptr<PrintRequest> request) {
        std::lock_guard guard(lock_);
        if (!started_) {
            started_ = true;
            std::thread([this] { run(); }).detach();
            std::atexit([] { instance().finish(platform::otherThreadsRunInExitHandlers()); });
        }
        waiting_.push_back(std::move(request));
        wake_.notify_one();
    }

    // The end of the process. Where the other threads still run, queued
    // receipts print until the exit deadline; where they may be gone, nothing
    // waits for them or for a lock they may hold. Either way what is left is
    // logged, none dropped in silence, and the log is written out.
    void finish(bool otherThreadsRun) {
        std::deque<std::unique_ptr<PrintRequest>> left;
        std::optional<std::string> running;
        if (otherThreadsRun) {
            std::unique_lock hold(lock_);
            if (!exitDeadline_) exitDeadline_ = std::chrono::steady_clock::now() + kExitDrain;
            idle_.wait_until(hold, *exitDeadline_, [this] { return waiting_.empty() && running_ == 0; });
            takeLeft(left, running);
        } else {
            addon_log::writeOnCallingThread();
            std::unique_lock hold(lock_, std::try_to_lock);
            if (!hold.owns_lock()) {
                logLine("process exit: the receipts still queued cannot be listed");
                return;
            }
            takeLeft(left, running);
        }
        if (running) logLine("process exit: a print still running is not reported printed: %s", *running);
        for (const auto& request : left)
            if (request->receipt()) logLine("process exit: not printed: %s", request->text);
        if (otherThreadsRun) {
            addon_log::flush();
        } else {
            // Left as they are: an ended thread may have been using their printer.
            for (auto& request : left) (void)request.release();
        }
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
                running_ = ++begun_;
                runningText_ = request->receipt() ? &request->text : nullptr;
            }
            request->step(*request);
            {
                std::lock_guard guard(lock_);
                running_ = 0;
                runningText_ = nullptr;
                if (waiting_.empty()) idle_.notify_all();
            }
        }
    }

    // Under the lock: the waiting requests, and the text of the one printing
    // unless it was logged already.
    void takeLeft(std::deque<std::unique_ptr<PrintRequest>>& left, std::optional<std::string>& running) {
        left.swap(waiting_);
        if (running_ != 0 && runningText_ != nullptr && running_ != reportedRunning_) {
            running = *runningText_;
            reportedRunning_ = running_;
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::unique_ptr<PrintRequest>> waiting_;
    // The number of the request printing (counted from 1), 0 while none is.
    unsigned long long running_ = 0;
    unsigned long long begun_ = 0;
    unsigned long long reportedRunning_ = 0;
    const std::string* runningText_ = nullptr;
    std::optional<std::chrono::steady_clock::time_point> exitDeadline_;
    bool started_ = false;
};

}  // namespace

void printAsync(const PrintRequest& request) {
    logLine("WritePrintData %s", request.text);
    // The id is recorded as the script wrote it, not as the code page holds it.
    std::string receipt = request.text;
    std::string orderId;
    std::optional<std::string> reportedId;
    if (splitOrderId(receipt, orderId)) reportedId = orderId;
    const int result = request.printer->usbPrinter.WritePrintData(utf8ToAnsi(request.text), reportedId);
    logLine("printAsync ret: %d", result);
}

void driverPrintAsync(const PrintRequest& request) {
    logLine("PrintOrder %s", request.text);
    const int result = request.printer->PrintOrder(request.text);
    logLine("driverPrintAsync ret: %d", result);
}

void statusAsync(const PrintRequest& request) { request.printer->usbPrinter.refreshStatus(request.text); }

void spoolerStatusAsync(const PrintRequest& request) { request.printer->readSpoolerStatus(request.text); }

bool PrintRequest::receipt() const { return step == driverPrintAsync || step == printAsync; }

void queuePrintRequest(std::unique_ptr<PrintRequest> request) { PrintQueue::instance().push(std::move(request)); }

void drainPrintQueueAtExit() { PrintQueue::instance().finish(true); }

}  // namespace binding
