// Print work off the script thread. `print` and `NoDriverPrint` turn each call
// into a PrintRequest and return at once; the print itself runs as a work
// step on the runtime's worker pool, and its outcome goes to the add-on log.
//
// The requests of one script thread form a lane: they are handed to the pool
// one at a time, in the order the script made them, so two prints never
// share the device or the spooler and the rest of the pool stays free for the
// runtime's own work. A process-wide lock also keeps the lanes of different
// script threads (workers) from printing at once.
#pragma once

#include <uv.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

class DriverPrinter;
class PrintLane;

struct PrintRequest {
    PrintRequest(std::string receipt, DriverPrinter& target, uv_work_cb workStep)
        : text(std::move(receipt)), printer(target), step(workStep) {
        work.data = this;
    }

    uv_work_t work{};
    std::string text;         // the receipt as the script passed it, UTF-8
    DriverPrinter& printer;   // outlives the request
    uv_work_cb step;          // driverPrintAsync or printAsync
    PrintLane* lane = nullptr;
};

// Work steps; each reads the printer's settings when it runs, not when the
// script queued the request.
void driverPrintAsync(uv_work_t* work);
void printAsync(uv_work_t* work);
// Completion on the script thread: releases the request and hands the lane's
// next one to the pool.
void afterPrint(uv_work_t* work, int status);

// The print requests of one event loop; used on that loop's thread only.
class PrintLane {
public:
    explicit PrintLane(uv_loop_t* loop) : loop_(loop) {}
    PrintLane(const PrintLane&) = delete;
    PrintLane& operator=(const PrintLane&) = delete;

    // Takes the request; it runs once those queued before it have finished.
    void queue(std::unique_ptr<PrintRequest> request);

    bool idle() const { return !running_ && waiting_.empty(); }
    // Calls `done` once every request queued so far has finished: at once
    // when the lane is idle, else from the last completion. `done` may
    // destroy the lane.
    void whenIdle(std::function<void()> done);

private:
    friend void afterPrint(uv_work_t* work, int status);
    void startNext();

    uv_loop_t* loop_;
    std::deque<std::unique_ptr<PrintRequest>> waiting_;
    std::unique_ptr<PrintRequest> running_;
    std::function<void()> whenIdle_;
};
