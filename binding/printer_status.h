// What a printer says of itself, summed up in one word for the script: the
// device route asks the printer in real time, the spooler route reads the
// queue's state. Both routes keep one last-known word per printer.
#pragma once

#include <string_view>

namespace binding {

// Ordered so that, of several conditions a printer reports at once, the
// greatest is the one the merchant must act on first.
enum class PrinterStatus {
    Unknown,   // not asked yet
    Absent,    // no printer of that name
    NoAnswer,  // the device is there and gave no valid answer
    Ready,
    PaperLow,
    Offline,
    Error,
    PaperOut,
    CoverOpen,
};

constexpr std::string_view statusWord(PrinterStatus status) {
    switch (status) {
        case PrinterStatus::Unknown: return "unknown";
        case PrinterStatus::Absent: return "absent";
        case PrinterStatus::NoAnswer: return "no-answer";
        case PrinterStatus::Ready: return "ready";
        case PrinterStatus::PaperLow: return "paper-low";
        case PrinterStatus::Offline: return "offline";
        case PrinterStatus::Error: return "error";
        case PrinterStatus::PaperOut: return "paper-out";
        case PrinterStatus::CoverOpen: return "cover-open";
    }
    return "unknown";
}

// A receipt must not be sent to, or counted printed on, a printer in these states.
constexpr bool blocksPrinting(PrinterStatus status) {
    return status == PrinterStatus::Offline || status == PrinterStatus::Error || status == PrinterStatus::PaperOut ||
           status == PrinterStatus::CoverOpen;
}

}  // namespace binding
