#include "usb_printer.h"

#include <algorithm>
#include <cstring>

#include "addon_log.h"
#include "usb_devices.h"

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

}  // namespace

std::string deviceNameFromInstanceId(std::string_view instanceId) {
    const auto first = instanceId.find('\\');
    if (first == std::string_view::npos) return {};
    std::string_view name = instanceId.substr(first + 1);
    return std::string(name.substr(0, name.find('\\')));
}

int UsbPrinter::enumUsbPrinters(std::vector<PrinterEntry>& list) { return storeDevices(scanPrintingDevices(), list); }

int UsbPrinter::storeDevices(std::optional<std::vector<UsbDeviceRecord>> found, std::vector<PrinterEntry>& list) {
    std::lock_guard guard(lock_);
    devices = found ? std::move(*found) : std::vector<UsbDeviceRecord>();
    for (const auto& record : devices) list.push_back({record.deviceName, kUsbPort});
    return found ? static_cast<int>(devices.size()) : 1;
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
    return devices;
}

void UsbPrinter::setWriteTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard guard(lock_);
    writeTimeout_ = timeout;
}

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
    std::vector<PrinterEntry> scratch;
    if (enumUsbPrinters(scratch) == 0) return kUsbNoDevices;
    std::optional<UsbDeviceRecord> device;
    {
        std::lock_guard guard(lock_);
        for (const auto& record : devices) {
            if (record.deviceName == chosen) {
                device = record;
                break;
            }
        }
    }
    if (!device) return kUsbDeviceNotFound;
    logLine("begin print %s", device->devicePath);
    for (const std::string_view paragraph : splitParagraphs(text, Route::Device)) {
        const auto segments = tokenizeSegments(paragraph);
        if (segments.empty()) continue;
        const int cycle = DeviceCycle(segments, device->devicePath, timeout);
        if (cycle == kUsbWriteFailed) return kUsbWriteFailed;
        if (cycle != 0) return kUsbCycleFailed;
    }
    if (!orderId.empty()) {
        std::lock_guard guard(lock_);
        printedOrderIds.push_back(orderId);
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

std::size_t UsbPrinter::writeToDevice(platform::UsbDeviceFile& device, const char* bytes, std::size_t length) {
    if (length == 0) length = std::strlen(bytes);
    return loggedWrite(device, std::string_view(bytes, length)).written;
}

std::string UsbPrinter::takePrintedOrderIds() {
    std::lock_guard guard(lock_);
    std::string joined;
    for (std::size_t i = 0; i < printedOrderIds.size(); ++i) {
        if (i > 0) joined += ',';
        joined += printedOrderIds[i];
    }
    printedOrderIds.clear();
    return joined;
}
