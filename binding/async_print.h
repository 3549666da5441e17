// Print work off the script thread. `print` and `NoDriverPrint` turn each call
// into a PrintRequest and return at once; the print itself runs as a work
// step on the add-on's print thread, and its outcome goes to the add-on log.
//
// One print thread serves the whole process: requests from every script
// thread (the main one and workers) wait in one queue and print one at a
// time in the order they were queued. The thread takes the next request as
// soon as the previous one is done, whatever the script threads are doing,
// and it outlives the script thread that queued a request: a worker that
// ends leaves its receipts printing, and at process exit the queue is given
// up to kExitDrain to empty before what is left is logged as not printed.
#pragma once

#include <uv.h>

#include <chrono>
#include <memory>
#include <string>

class DriverPrinter;

struct PrintRequest {
    PrintRequest(std::string receipt, std::shared_ptr<DriverPrinter> target, uv_work_cb workStep)
        : text(std::move(receipt)), printer(std::move(target)), step(workStep) {
        work.data = this;
    }

    // A receipt, as opposed to a status read.
    bool receipt() const;

    uv_work_t work{};                        // its data points back here; the step takes it
    std::string text;                        // the receipt as the script passed it, UTF-8; for a read the printer
    std::shared_ptr<DriverPrinter> printer;  // kept alive until the request has printed
    uv_work_cb step;                         // driverPrintAsync, printAsync, or a status read
};

// Work steps; each reads the printer's settings when it runs, not when the
// script queued the request.
void driverPrintAsync(uv_work_t* work);
void printAsync(uv_work_t* work);
// Reads the spooler's state of the printer named by the text (ANSI) and keeps its word.
void spoolerStatusAsync(uv_work_t* work);

// How long the process end waits for queued receipts, all of them together.
inline constexpr std::chrono::seconds kExitDrain{30};

// Hands the request to the print thread (started on first use); takes only
// the queue's own short lock.
void queuePrintRequest(std::unique_ptr<PrintRequest> request);
