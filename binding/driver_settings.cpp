// DriverPrinter's settings: the chosen spooler printer, the printer listings,
// and the file that keeps the choice beside the executable.
#include "binding/driver_printer.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "binding/conversions.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace binding {

namespace {

constexpr char kConfigFile[] = "config.ini";
constexpr char kPrinterSection[] = "printer";
constexpr char kPrinterKey[] = "type";

// Drivers of the virtual printers that are no receipt printers.
constexpr std::array<std::string_view, 3> kSkippedDrivers{"Send to Microsoft OneNote", "Fax",
                                                          "Microsoft XPS Document Writer"};

bool isSkippedDriver(const std::string& driver) {
    return std::any_of(kSkippedDrivers.begin(), kSkippedDrivers.end(),
                       [&](std::string_view skipped) { return driver.find(skipped) != std::string::npos; });
}

int appendListing(std::vector<PrinterEntry>& list, platform::PrinterListing listing, bool filtered) {
    for (const auto& printer : platform::listPrinters(listing)) {
        if (filtered && isSkippedDriver(printer.driver)) continue;
        list.push_back({printer.name, printer.port});
    }
    return static_cast<int>(list.size());
}

}  // namespace

std::string executableFolder() {
    // The path in the bytes the system's narrow file functions take: the ANSI
    // code page on Windows, UTF-8 on Linux.
#ifdef _WIN32
    std::string path = wideToAnsi(platform::executablePath());
#else
    std::string path = wideToUtf8(platform::executablePath());
#endif
    path.resize(std::min(path.size(), platform::kMaxPath - 1));
    const auto last = path.rfind(static_cast<char>(platform::kPathSeparator));
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

std::string readSelectedPrinter(const std::string& configPath) {
    return platform::readProfileStringA(configPath, kPrinterSection, kPrinterKey, "", platform::kMaxPath);
}

bool saveSelectedPrinter(const std::string& configPath, const std::string& name) {
    return platform::writeProfileStringA(configPath, kPrinterSection, kPrinterKey, name);
}

int enumLocalPrinters(std::vector<PrinterEntry>& list) {
    return appendListing(list, platform::PrinterListing::LocalAndConnected, true);
}

int enumRemotePrinters(std::vector<PrinterEntry>& list) {
    return appendListing(list, platform::PrinterListing::RemoteAndConnected, false);
}

int listSpoolerPrinters(std::vector<PrinterEntry>& list) {
    list.clear();
    enumLocalPrinters(list);
    return enumRemotePrinters(list);
}

bool openPrinterQueue(const std::string& printer) {
    return platform::openPrinterWindow(printer, platform::PrinterWindow::Queue);
}

bool openPrinterProperties(const std::string& printer) {
    return platform::openPrinterWindow(printer, platform::PrinterWindow::Properties);
}

int queuedJobCount(const std::string& printer) {
    return platform::queuedJobCount(printer.substr(0, kMaxSpoolerName));
}

DriverPrinter::DriverPrinter()
    : configPath(executableFolder() + static_cast<char>(platform::kPathSeparator) + kConfigFile) {}

std::string DriverPrinter::printerName() const {
    std::lock_guard guard(nameLock_);
    return printerName_;
}

void DriverPrinter::setPrinterName(std::string name) {
    std::lock_guard guard(nameLock_);
    printerName_ = std::move(name);
}

}  // namespace binding
