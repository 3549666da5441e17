#include "binding/usb_printer.h"

#include <algorithm>
#include <utility>

#include "binding/addon_log.h"
#include "platform/usb_devices.h"

namespace binding {

namespace {

using namespace std::string_view_literals;

// How Windows describes its generic USB printing support, in English and, in
// code page 936, in Chinese ("USB 打印支持").
constexpr std::string_view kPrintingSupport = "USB Printing Support"sv;
constexpr std::string_view kPrintingSupport936 = "USB \xB4\xF2\xD3\xA1\xD6\xA7\xB3\xD6"sv;
constexpr char kUsbPort[] = "USB";

bool isPrintingDevice(std::string_view description) {
    return description.find(kPrintingSupport) != std::string_view::npos ||
           description.find(kPrintingSupport936) != std::string_view::npos;
}

platform::UsbDeviceFile::WriteResult loggedWrite(platform::UsbDeviceFile& device, std::string_view bytes) {
    const auto result = device.write(bytes.data(), bytes.size());
    logLine("WriteFile ret:%d, Written: %d", result.ok ? 1 : 0, static_cast<int>(result.written));
    return result;
}

// Every piece of the paragraph is one logged write to the open device; a
// write the device took only in part goes on with the rest until the piece is
// done, the device refuses, stops taking bytes or the piece's time is up.
// After a piece that did not get through, nothing more is written: the
// receipt cannot be whole, and each further write would wait for its time-out.
class DeviceSink : public RouteSink {
public:
    DeviceSink(platform::UsbDeviceFile& device, std::chrono::milliseconds timeout)
        : device_(device), timeout_(timeout) {}
    void write(std::string_view bytes) override {
        if (failed_) return;
        const auto deadline = std::chrono::steady_clock::now() + timeout_;
        std::size_t done = 0;
        for (;;) {
            const auto result = loggedWrite(device_, bytes.substr(done));
            done += std::min(result.written, bytes.size() - done);
            if (result.ok && done == bytes.size()) return;
            if (!result.ok || result.written == 0 || std::chrono::steady_clock::now() >= deadline) break;
        }
        failed_ = true;
        logLine("device write incomplete: %d of %d bytes", static_cast<int>(done), static_cast<int>(bytes.size()));
    }
    bool failed() const { return failed_; }

private:
    platform::UsbDeviceFile& device_;
    std::chrono::milliseconds timeout_;
    bool failed_ = false;
};

// The printing devices among the present ones; nullopt when the devices
// cannot be queried. Touches no state of the printer.
std::optional<std::vector<UsbDeviceRecord>> scanPrintingDevices() {
    const auto found = platform::listUsbDeviceInterfaces();
    if (!found) return std::nullopt;
    std::vector<UsbDeviceRecord> records;
    for (const auto& device : *found) {
        if (!isPrintingDevice(device.description)) continue;
        records.push_back({device.instanceId, device.description, device.devicePath,
                           deviceNameFromInstanceId(device.instanceId)});
    }
    return records;
}

// Real-time status queries (DLE EOT n) and the confirmation request (GS r 1),
// which a printer answers only once it has processed everything before it.
constexpr std::string_view kAskPrinter = "\x10\x04\x01"sv;
constexpr std::string_view kAskOfflineCause = "\x10\x04\x02"sv;
constexpr std::string_view kAskPaper = "\x10\x04\x04"sv;
constexpr std::string_view kAskConfirmation = "\x1D\x72\x01"sv;
// Input waiting before a query that is dropped at most; a printer that never
// stops sending cannot hold the cycle.
constexpr std::size_t kDiscardLimit = 64 * 1024;

bool isStatusByte(std::uint8_t b) { return (b & 0x93) == 0x12; }
bool isConfirmation(std::uint8_t b) { return (b & 0x90) == 0; }

// The device opened for one status cycle. Each query is written alone after
// the input waiting has been dropped (a late or repeated answer, or noise),
// and its answer awaited before anything else is sent: queries sent together
// get their answers misaligned. An answer is the first byte that comes.
class StatusLine {
public:
    explicit StatusLine(const std::string& devicePath) : device_(devicePath, kStatusAnswerBound) {}

    bool isOpen() const { return device_.isOpen(); }

    std::optional<std::uint8_t> ask(std::string_view query, std::chrono::milliseconds bound,
                                    bool (*valid)(std::uint8_t)) {
        if (failed_ || !discardWaiting() || !send(query)) {
            failed_ = true;
            return std::nullopt;
        }
        std::uint8_t answer = 0;
        const auto got = device_.read(&answer, 1, bound);
        if (!got.ok) failed_ = true;
        if (!got.ok || got.read == 0 || !valid(answer)) return std::nullopt;
        return answer;
    }

    // DLE EOT 1 (when `withPrinter`), 2 and 4; any of them unanswered is no answer.
    PrinterStatus status(bool withPrinter) {
        std::optional<std::uint8_t> printer;
        if (withPrinter && !(printer = ask(kAskPrinter, kStatusAnswerBound, isStatusByte)))
            return PrinterStatus::NoAnswer;
        const auto offlineCause = ask(kAskOfflineCause, kStatusAnswerBound, isStatusByte);
        if (!offlineCause) return PrinterStatus::NoAnswer;
        const auto paper = ask(kAskPaper, kStatusAnswerBound, isStatusByte);
        if (!paper) return PrinterStatus::NoAnswer;
        return summarizeStatus(printer, offlineCause, paper);
    }

private:
    // False when the device cannot be read at all (a one-way interface, a
    // write-only open): then nothing is sent.
    bool discardWaiting() {
        std::vector<char> scratch(512);
        for (std::size_t dropped = 0; dropped < kDiscardLimit;) {
            const auto got = device_.read(scratch.data(), scratch.size(), std::chrono::milliseconds(0));
            if (!got.ok) return false;
            if (got.read == 0) return true;
            dropped += got.read;
        }
        return true;
    }

    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const auto result = device_.write(bytes.data(), bytes.size());
            if (!result.ok || result.written == 0) return false;
            bytes.remove_prefix(std::min(result.written, bytes.size()));
        }
        return true;
    }

    platform::UsbDeviceFile device_;
    bool failed_ = false;
};

// The bytes a paragraph cycle sends, counted without a device.
class ByteCount : public RouteSink {
public:
    void write(std::string_view bytes) override { count += bytes.size(); }
    std::size_t count = 0;
};

}  // namespace

PrinterStatus summarizeStatus(std::optional<std::uint8_t> printer, std::optional<std::uint8_t> offlineCause,
                              std::optional<std::uint8_t> paper) {
    const auto has = [](std::optional<std::uint8_t> answer, std::uint8_t bits) {
        return answer && (*answer & bits) != 0;
    };
    if (has(offlineCause, 0x04)) return PrinterStatus::CoverOpen;
    if (has(offlineCause, 0x20) || has(paper, 0x60)) return PrinterStatus::PaperOut;
    if (has(offlineCause, 0x40)) return PrinterStatus::Error;
    if (has(printer, 0x08)) return PrinterStatus::Offline;
    if (has(paper, 0x0C)) return PrinterStatus::PaperLow;
    return PrinterStatus::Ready;
}

std::chrono::milliseconds confirmationBound(std::size_t bytes) {
    const auto bound = std::chrono::milliseconds(3000) + std::chrono::milliseconds(bytes * 1000 / 2048);
    return std::min<std::chrono::milliseconds>(bound, std::chrono::seconds(30));
}

std::string deviceNameFromInstanceId(std::string_view instanceId) {
    const auto first = instanceId.find('\\');
    if (first == std::string_view::npos) return {};
    std::string_view name = instanceId.substr(first + 1);
    return std::string(name.substr(0, name.find('\\')));
}

int UsbPrinter::enumUsbPrinters(std::vector<PrinterEntry>& list) { return storeDevices(scanPrintingDevices(), list); }

int UsbPrinter::storeDevices(std::optional<std::vector<UsbDeviceRecord>> found, std::vector<PrinterEntry>& list) {
    std::lock_guard guard(lock_);
    devices_ = found ? std::move(*found) : std::vector<UsbDeviceRecord>();
    for (const auto& record : devices_) list.push_back({record.deviceName, kUsbPort});
    return found ? static_cast<int>(devices_.size()) : 1;
}

void UsbPrinter::setDriver(std::string name) {
    std::lock_guard guard(lock_);
    m_string_driver = std::move(name);
}

std::string UsbPrinter::driver() const {
    std::lock_guard guard(lock_);
    return m_string_driver;
}

std::vector<UsbDeviceRecord> UsbPrinter::deviceList() const {
    std::lock_guard guard(lock_);
    return devices_;
}

void UsbPrinter::setWriteTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard guard(lock_);
    writeTimeout_ = timeout;
}

std::optional<UsbDeviceRecord> UsbPrinter::findDevice(const std::string& name, int& failure) {
    std::vector<PrinterEntry> scratch;
    if (enumUsbPrinters(scratch) == 0) {
        failure = kUsbNoDevices;
        noteStatus(name, PrinterStatus::Absent);
        return std::nullopt;
    }
    {
        std::lock_guard guard(lock_);
        for (const auto& record : devices_) {
            if (record.deviceName == name) return record;
        }
    }
    failure = kUsbDeviceNotFound;
    noteStatus(name, PrinterStatus::Absent);
    return std::nullopt;
}

// Before the first paragraph the printer is asked whether it can print; after
// the last one, whether it has processed the receipt and is still fine. A
// printer that gives no answer prints as it always did.
int UsbPrinter::WritePrintData(std::string text, const std::optional<std::string>& reportedId) {
    std::string chosen;
    std::chrono::milliseconds timeout{};
    {
        std::lock_guard guard(lock_);
        chosen = m_string_driver;
        timeout = writeTimeout_;
    }
    if (chosen.empty()) return kUsbNoDeviceChosen;
    std::string orderId;
    if (splitOrderId(text, orderId) && reportedId) orderId = *reportedId;
    int failure = 0;
    const auto device = findDevice(chosen, failure);
    if (!device) return failure;
    logLine("begin print %s", device->devicePath);
    std::vector<std::vector<ReceiptSegment>> paragraphs;
    for (const std::string_view paragraph : splitParagraphs(text, Route::Device)) {
        auto segments = tokenizeSegments(paragraph);
        if (!segments.empty()) paragraphs.push_back(std::move(segments));
    }

    bool answered = false;
    if (!paragraphs.empty() && statusDue(chosen)) {
        StatusLine line(device->devicePath);
        if (line.isOpen()) {
            const PrinterStatus before = line.status(true);
            noteStatus(chosen, before);
            if (blocksPrinting(before)) {
                logLine("printer not ready: %s", statusWord(before));
                return kUsbPrinterNotReady;
            }
            if (before == PrinterStatus::PaperLow) logLine("printer paper low");
            answered = before != PrinterStatus::NoAnswer;
        }
    }

    ByteCount sent;
    for (const auto& segments : paragraphs) {
        const int cycle = DeviceCycle(segments, device->devicePath, timeout);
        if (cycle == kUsbWriteFailed) return kUsbWriteFailed;
        if (cycle != 0) {
            noteStatus(chosen, PrinterStatus::Absent);
            return kUsbCycleFailed;
        }
        if (answered) encodeParagraph(segments, Route::Device, sent);
    }

    if (answered) {
        StatusLine line(device->devicePath);
        if (!line.isOpen()) {
            noteStatus(chosen, PrinterStatus::Absent);
        } else {
            std::optional<bool> confirmed;
            if (confirmationDue(chosen))
                confirmed = line.ask(kAskConfirmation, confirmationBound(sent.count), isConfirmation).has_value();
            const PrinterStatus after = line.status(false);
            noteStatus(chosen, after);
            if (blocksPrinting(after)) {
                logLine("printer stopped during the receipt: %s", statusWord(after));
                return kUsbPrinterNotReady;
            }
            if (confirmed == false && after != PrinterStatus::NoAnswer) noteUnconfirmed(chosen);
        }
    }

    if (!orderId.empty()) {
        std::lock_guard guard(lock_);
        printedOrderIds_.push_back(orderId);
    }
    return kUsbPrinted;
}

int UsbPrinter::DeviceCycle(const std::vector<ReceiptSegment>& segments, const std::string& devicePath,
                            std::chrono::milliseconds writeTimeout) {
    platform::UsbDeviceFile device(devicePath, writeTimeout);
    if (!device.isOpen()) return kUsbOpenFailed;
    DeviceSink sink(device, writeTimeout);
    encodeParagraph(segments, Route::Device, sink);
    return sink.failed() ? kUsbWriteFailed : 0;
}

std::string UsbPrinter::takePrintedOrderIds() {
    std::lock_guard guard(lock_);
    std::string joined;
    for (std::size_t i = 0; i < printedOrderIds_.size(); ++i) {
        if (i > 0) joined += ',';
        joined += printedOrderIds_[i];
    }
    printedOrderIds_.clear();
    return joined;
}

std::chrono::steady_clock::time_point UsbPrinter::now() const {
    std::lock_guard guard(lock_);
    return clock_();
}

void UsbPrinter::setStatusClock(std::function<std::chrono::steady_clock::time_point()> clock) {
    std::lock_guard guard(lock_);
    clock_ = std::move(clock);
}

bool UsbPrinter::statusDue(const std::string& name) const {
    const auto time = now();
    std::lock_guard guard(lock_);
    const auto found = statuses_.find(name);
    return found == statuses_.end() || time >= found->second.quietUntil;
}

bool UsbPrinter::confirmationDue(const std::string& name) const {
    const auto time = now();
    std::lock_guard guard(lock_);
    const auto found = statuses_.find(name);
    return found == statuses_.end() || time >= found->second.unconfirmedUntil;
}

void UsbPrinter::noteStatus(const std::string& name, PrinterStatus word) {
    const auto time = now();
    std::lock_guard guard(lock_);
    // Words for names that are no device are not kept for ever: a script
    // asking for many names must not grow the table without end.
    constexpr std::size_t kKeptNames = 64;
    if (statuses_.size() >= kKeptNames && !statuses_.contains(name)) {
        std::erase_if(statuses_, [](const auto& entry) {
            return !entry.second.queryWaiting &&
                   (entry.second.word == PrinterStatus::Absent || entry.second.word == PrinterStatus::Unknown);
        });
    }
    DeviceStatus& entry = statuses_[name];
    entry.word = word;
    if (word == PrinterStatus::NoAnswer) entry.quietUntil = time + kNoAnswerPause;
}

void UsbPrinter::noteUnconfirmed(const std::string& name) {
    const auto time = now();
    std::lock_guard guard(lock_);
    statuses_[name].unconfirmedUntil = time + kNoConfirmationPause;
}

UsbPrinter::StatusRequest UsbPrinter::requestStatus(const std::string& name) {
    std::lock_guard guard(lock_);
    const std::string& device = name.empty() ? m_string_driver : name;
    if (device.empty()) return {};
    DeviceStatus& entry = statuses_[device];
    StatusRequest request{entry.word, {}};
    if (!entry.queryWaiting) {
        entry.queryWaiting = true;
        request.query = device;
    }
    return request;
}

PrinterStatus UsbPrinter::lastStatus(const std::string& name) const {
    std::lock_guard guard(lock_);
    const auto found = statuses_.find(name.empty() ? m_string_driver : name);
    return found == statuses_.end() ? PrinterStatus::Unknown : found->second.word;
}

PrinterStatus UsbPrinter::refreshStatus(const std::string& name) {
    {
        std::lock_guard guard(lock_);
        if (const auto found = statuses_.find(name); found != statuses_.end()) found->second.queryWaiting = false;
    }
    int failure = 0;
    const auto device = findDevice(name, failure);
    if (!device) return PrinterStatus::Absent;
    if (!statusDue(name)) return lastStatus(name);
    StatusLine line(device->devicePath);
    const PrinterStatus word = line.isOpen() ? line.status(true) : PrinterStatus::Absent;
    noteStatus(name, word);
    return word;
}

}  // namespace binding
