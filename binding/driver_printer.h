// The add-on's one printer object: the printer that driver printing uses,
// the USB printer state, job tracking, and the settings file config.ini.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "binding/job_tracking.h"
#include "binding/printer_status.h"
#include "binding/receipt_markup.h"
#include "platform/spooler.h"
#include "binding/usb_printer.h"

namespace binding {

// The running program's folder (the client's, not the add-on's), without
// its trailing separator.
std::string executableFolder();

// Key "type" of section "printer": at most 259 bytes, empty when absent.
std::string readSelectedPrinter(const std::string& configPath);
// True when the name was written.
bool saveSelectedPrinter(const std::string& configPath, const std::string& name);

// The spooler's printers as (name, port), appended to `list`; each gives the
// list's new length. The local listing leaves out printers whose driver is a
// OneNote, fax or XPS writer.
int enumLocalPrinters(std::vector<PrinterEntry>& list);
int enumRemotePrinters(std::vector<PrinterEntry>& list);
// Empties `list`, fills it with the local then the remote listing, and gives
// the number of entries.
int listSpoolerPrinters(std::vector<PrinterEntry>& list);

bool openPrinterQueue(const std::string& printer);
bool openPrinterProperties(const std::string& printer);

// Jobs queued on the printer; -1 when it cannot be opened, 0 when its state
// cannot be read.
int queuedJobCount(const std::string& printer);

// What driver printing and tracking ask of the spooler and the clock. The
// defaults are the real ones; tests replace them where the system cannot
// answer (Wine's spooler reports no jobs) or where time must be fixed.
struct SpoolerQueries {
    std::function<int(const std::string&)> jobCount = queuedJobCount;
    JobLister jobs = platform::listQueuedJobs;
    std::function<std::int32_t()> clock = calendarSeconds;
    std::function<bool()> keepsFinishedJobs = platform::spoolerKeepsFinishedJobs;
    std::function<std::optional<platform::PrinterConditions>(const std::string&)> conditions =
        platform::printerConditions;
};

// The word for a spooler printer's conditions: absent when the spooler has no
// such printer, no-answer when it did not tell the state, else the most
// urgent condition (cover open, paper out, error, offline, paper low), ready
// when none holds.
PrinterStatus spoolerStatusOf(const std::optional<platform::PrinterConditions>& conditions);

// What the script is told at once when it asks for a spooler printer's status.
struct SpoolerStatusAnswer {
    PrinterStatus word;
    bool queueRead;  // the caller queues a read; false while one already waits
};

class DriverPrinter : public std::enable_shared_from_this<DriverPrinter> {
public:
    DriverPrinter();
    DriverPrinter(const DriverPrinter&) = delete;
    DriverPrinter& operator=(const DriverPrinter&) = delete;

    std::string configPath;
    UsbPrinter usbPrinter;

    // Written by the script thread, read by print workers.
    std::string printerName() const;
    void setPrinterName(std::string name);

    int paperWidth = 58;
    std::atomic<std::int32_t> monitorTime{0};
    std::atomic<std::int32_t> checkTime{0};  // stored for the script; nothing reads it

    SpoolerQueries queries;

    // Prints a receipt (UTF-8 with mark-up) on the printer named at the
    // start, one RAW document per paragraph. 0 when the queue grew meanwhile,
    // else 1. A receipt with an order id becomes a tracked task of the jobs
    // the spooler took.
    int PrintOrder(const std::string& receipt);
    // One paragraph as one RAW document; its job id (0 when the spooler
    // gives none), or -1 when the printer or the document did not open.
    int PrintPara(const std::string& printer, platform::WrapperDocument& wrapper,
                  const std::vector<ReceiptSegment>& segments, const std::string& documentName);
    // Prints the test page; 1 when the printer's queue grew meanwhile, else 0.
    int PrintTestMsg();
    int printTestPage();

    // Order ids of tracked tasks printed on the listed printers ("," between
    // names and between ids); only printers whose queue could be read judge
    // their tasks.
    std::string GetPrintedTasks(const std::string& printerList);

    std::vector<TrackedTask> trackedTaskList() const;

    // The word last read for a spooler printer (ANSI name), unknown before the
    // first read; at most one read per printer waits at a time, so a script
    // that keeps asking does not fill the print queue.
    SpoolerStatusAnswer askSpoolerStatus(const std::string& printer);
    // Reads the printer's state from the spooler now and keeps its word; the
    // print thread's step. A change of word is logged.
    PrinterStatus readSpoolerStatus(const std::string& printer);

private:
    // A document name no tracked task uses, held until its task leaves.
    std::string reserveDocumentName(const std::string& ansiOrderId);

    mutable std::mutex nameLock_;
    std::string printerName_ = "XP-58";

    // Recorded by the print thread, collected by the script thread; held only
    // to move tasks and names in and out, never over a spooler call.
    mutable std::mutex tasksLock_;
    std::vector<TrackedTask> trackedTasks_;
    std::set<std::string> namesInUse_;
    unsigned documentSequence_ = 0;

    // Asked by the script thread, read by the print thread; never held over a
    // spooler call.
    struct SpoolerStatusEntry {
        PrinterStatus word = PrinterStatus::Unknown;
        bool readWaiting = false;
    };
    std::mutex statusLock_;
    std::map<std::string, SpoolerStatusEntry> spoolerStatus_;
};

}  // namespace binding
