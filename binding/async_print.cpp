#include "async_print.h"

#include <mutex>

#include "addon_log.h"
#include "conversions.h"
#include "driver_printer.h"

namespace {

// Held for the whole of each print by every lane of the process.
std::mutex g_printing;

PrintRequest& requestOf(uv_work_t* work) { return *static_cast<PrintRequest*>(work->data); }

}  // namespace

void printAsync(uv_work_t* work) {
    const PrintRequest& request = requestOf(work);
    std::lock_guard hold(g_printing);
    logLine("WritePrintData %s", request.text);
    const int result = request.printer.usbPrinter.WritePrintData(utf8ToAnsi(request.text));
    logLine("printAsync ret: %d", result);
}

void driverPrintAsync(uv_work_t* work) {
    const PrintRequest& request = requestOf(work);
    std::lock_guard hold(g_printing);
    logLine("PrintOrder %s", request.text);
    const int result = request.printer.PrintOrder(request.text);
    logLine("driverPrintAsync ret: %d", result);
}

void afterPrint(uv_work_t* work, int /*status*/) {
    PrintLane& lane = *requestOf(work).lane;
    lane.running_.reset();
    lane.startNext();
    if (lane.idle() && lane.whenIdle_) {
        const auto done = std::move(lane.whenIdle_);
        lane.whenIdle_ = nullptr;
        done();  // may destroy the lane
    }
}

void PrintLane::queue(std::unique_ptr<PrintRequest> request) {
    request->lane = this;
    waiting_.push_back(std::move(request));
    if (!running_) startNext();
}

void PrintLane::startNext() {
    while (!running_ && !waiting_.empty()) {
        running_ = std::move(waiting_.front());
        waiting_.pop_front();
        // Refused only for a missing work step, which a request always has.
        if (uv_queue_work(loop_, &running_->work, running_->step, afterPrint) != 0) running_.reset();
    }
}

void PrintLane::whenIdle(std::function<void()> done) {
    if (idle()) {
        done();
        return;
    }
    whenIdle_ = std::move(done);
}
