// A spooler printer's status word: asked on the script thread, which gets the
// word last read at once, and read from the spooler on the print thread.
#include "binding/addon_log.h"
#include "binding/driver_printer.h"

namespace binding {

PrinterStatus spoolerStatusOf(const std::optional<platform::PrinterConditions>& conditions) {
    if (!conditions) return PrinterStatus::Absent;
    if (!conditions->stateKnown) return PrinterStatus::NoAnswer;
    if (conditions->coverOpen) return PrinterStatus::CoverOpen;
    if (conditions->paperOut) return PrinterStatus::PaperOut;
    if (conditions->error) return PrinterStatus::Error;
    if (conditions->offline) return PrinterStatus::Offline;
    if (conditions->paperLow) return PrinterStatus::PaperLow;
    return PrinterStatus::Ready;
}

SpoolerStatusAnswer DriverPrinter::askSpoolerStatus(const std::string& printer) {
    std::lock_guard guard(statusLock_);
    SpoolerStatusEntry& entry = spoolerStatus_[printer];
    const bool queueRead = !entry.readWaiting;
    entry.readWaiting = true;
    return {entry.word, queueRead};
}

PrinterStatus DriverPrinter::readSpoolerStatus(const std::string& printer) {
    {
        // A question asked from now on wants a read that starts after it.
        std::lock_guard guard(statusLock_);
        spoolerStatus_[printer].readWaiting = false;
    }
    const PrinterStatus word = spoolerStatusOf(queries.conditions(printer));
    PrinterStatus before;
    {
        std::lock_guard guard(statusLock_);
        SpoolerStatusEntry& entry = spoolerStatus_[printer];
        before = entry.word;
        entry.word = word;
    }
    if (word != before) logLine("spooler printer %s: %s", printer, statusWord(word));
    return word;
}

}  // namespace binding
