#include "usb_printer.h"

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

std::size_t loggedWrite(platform::UsbDeviceFile& device, std::string_view bytes) {
    const auto result = device.write(bytes.data(), bytes.size());
    logLine("WriteFile ret:%d, Written: %d", result.ok ? 1 : 0, static_cast<int>(result.written));
    return result.written;
}

// Every piece of the paragraph is one logged write to the open device.
class DeviceSink : public RouteSink {
public:
    explicit DeviceSink(platform::UsbDeviceFile& device) : device_(device) {}
    void write(std::string_view bytes) override {
        if (bytes.empty()) {
            loggedWrite(device_, bytes);
        } else {
            UsbPrinter::writeToDevice(device_, bytes.data(), bytes.size());
        }
    }

private:
    platform::UsbDeviceFile& device_;
};

}  // namespace

std::string deviceNameFromInstanceId(std::string_view instanceId) {
    const auto first = instanceId.find('\\');
    if (first == std::string_view::npos) return {};
    std::string_view name = instanceId.substr(first + 1);
    return std::string(name.substr(0, name.find('\\')));
}

int UsbPrinter::enumUsbPrinters(std::vector<PrinterEntry>& list) {
    std::lock_guard guard(lock_);
    return enumerateLocked(list);
}

int UsbPrinter::enumerateLocked(std::vector<PrinterEntry>& list) {
    devices.clear();
    const auto found = platform::listUsbDeviceInterfaces();
    if (!found) return 1;
    for (const auto& device : *found) {
        if (!isPrintingDevice(device.description)) continue;
        devices.push_back({device.instanceId, device.description, device.devicePath,
                           deviceNameFromInstanceId(device.instanceId)});
    }
    for (const auto& record : devices) list.push_back({record.deviceName, kUsbPort});
    return static_cast<int>(devices.size());
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

int UsbPrinter::WritePrintData(std::string text) {
    std::lock_guard guard(lock_);
    if (m_string_driver.empty()) return kUsbNoDeviceChosen;
    std::string orderId;
    splitOrderId(text, orderId);
    std::vector<PrinterEntry> scratch;
    if (enumerateLocked(scratch) == 0) return kUsbNoDevices;
    const UsbDeviceRecord* chosen = nullptr;
    for (const auto& record : devices) {
        if (record.deviceName == m_string_driver) {
            chosen = &record;
            break;
        }
    }
    if (chosen == nullptr) return kUsbDeviceNotFound;
    logLine("begin print %s", chosen->devicePath);
    for (const std::string_view paragraph : splitParagraphs(text, Route::Device)) {
        const auto segments = tokenizeSegments(paragraph);
        if (segments.empty()) continue;
        if (DeviceCycle(segments, chosen->devicePath, writeTimeout_) != 0) return kUsbCycleFailed;
    }
    if (!orderId.empty()) printedOrderIds.push_back(orderId);
    return kUsbPrinted;
}

int UsbPrinter::DeviceCycle(const std::vector<ReceiptSegment>& segments, const std::string& devicePath,
                            std::chrono::milliseconds writeTimeout) {
    platform::UsbDeviceFile device(devicePath, writeTimeout);
    if (!device.isOpen()) return kUsbOpenFailed;
    DeviceSink sink(device);
    encodeParagraph(segments, Route::Device, sink);
    return 0;
}

std::size_t UsbPrinter::writeToDevice(platform::UsbDeviceFile& device, const char* bytes, std::size_t length) {
    if (length == 0) length = std::strlen(bytes);
    return loggedWrite(device, std::string_view(bytes, length));
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
