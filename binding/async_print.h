// Print work off the script thread. `print` and `NoDriverPrint` turn each call
// into a PrintRequest and return at once; the print itself runs as a work
// step on the add-on's print thread, and its outcome goes to the add-on log.
//
// One print thread serves the whole process: requests from every script
// thread (the main one and workers) wait in one queue and print one at a
// time in the order they were queued. The thread takes the next request as
// soon as the previous one is done, whatever the script threads are doing,
// and it outlives the script thread that queued a request: a worker that
// ends leaves its receipts printing.
//
// At the end of the process the queue is given up to kExitDrain, in all, to
// empty; what is left then is logged as not printed, never reported printed.
// The wait happens where the print thread still runs: at the runtime's exit
// notice (drainPrintQueueAtExit), and in the library's exit handler only
// where the system has not ended the other threads before it.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace binding {

class DriverPrinter;

struct PrintRequest {
    using Step = void (*)(const PrintRequest&);

    // A receipt, as opposed to a status read.
    bool receipt() const;

    std::string text;                        // the receipt as the script passed it, UTF-8; for a read the printer
    std::shared_ptr<DriverPrinter> printer;  // kept alive until the request has printed
    Step step;                               // driverPrintAsync, printAsync, or a status read
};

// Work steps; each reads the printer's settings when it runs, not when the
// script queued the request.
void driverPrintAsync(const PrintRequest& request);
void printAsync(const PrintRequest& request);
// Asks the USB device the request's text names for its status.
void statusAsync(const PrintRequest& request);
// Reads the spooler's state of the printer named by the text (ANSI) and keeps its word.
void spoolerStatusAsync(const PrintRequest& request);

// How long the process end waits for queued receipts, all of them together.
inline constexpr std::chrono::seconds kExitDrain{30};

// Hands the request to the print thread (started on first use); takes only
// the queue's own short lock.
void queuePrintRequest(std::unique_ptr<PrintRequest> request);

// The process is ending and every thread still runs (the script runtime's
// exit notice, on the script thread): waits until every queued receipt has
// printed, within kExitDrain of the first such wait, logs the rest as not
// printed and writes the log out. Receipts queued after it are left to the
// library's exit handler.
void drainPrintQueueAtExit();

}  // namespace binding
