// Driverless USB receipt printers: found through the device-setup interface,
// chosen by name, printed on by writing ESC/POS bytes straight to the device.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "receipt_markup.h"

namespace platform {
class UsbDeviceFile;
}

// One entry of a printer list handed to the script: (name, port).
struct PrinterEntry {
    std::string name;
    std::string port;
    bool operator==(const PrinterEntry&) const = default;
};

struct UsbDeviceRecord {
    std::string instanceId;   // e.g. USB\VID_0416&PID_5011\5&1B4CD6D&0&2
    std::string description;
    std::string devicePath;
    std::string deviceName;   // e.g. VID_0416&PID_5011
};

// USB\VID_1234&PID_5678\SER gives VID_1234&PID_5678; an id without a
// backslash gives the empty text.
std::string deviceNameFromInstanceId(std::string_view instanceId);

// Result codes of WritePrintData.
inline constexpr int kUsbPrinted = 0;
inline constexpr int kUsbNoDeviceChosen = -1;
inline constexpr int kUsbNoDevices = -2;
inline constexpr int kUsbDeviceNotFound = -3;
inline constexpr int kUsbCycleFailed = -5;
// Result of a DeviceCycle whose device did not open.
inline constexpr int kUsbOpenFailed = -6;
// Result of a DeviceCycle, and of WritePrintData, when a write failed, timed
// out or stayed short: not every byte of the receipt reached the device.
inline constexpr int kUsbWriteFailed = -7;

// The add-on's USB state. The script thread lists and chooses while the
// print thread prints. The lock guards the fields only: it is never held over
// an enumeration or a device call, so a listing or a choice never waits for a
// print; a print works with the choice and device list it read at its start.
class UsbPrinter {
public:
    // Rebuilds the device list, appends (deviceName, "USB") per device to
    // `list`, and gives the number of devices; 1 when the devices cannot be
    // queried at all (the list is then empty).
    int enumUsbPrinters(std::vector<PrinterEntry>& list);

    // The chosen device's name, exactly as the script gave it.
    void setDriver(std::string name);
    std::string driver() const;
    std::vector<UsbDeviceRecord> deviceList() const;

    // Prints a receipt (ANSI text with mark-up) on the chosen device, one
    // device cycle per paragraph; 0, -1, -2, -3, -5 or -7. Only a receipt
    // every byte of which reached the device records its order id: the one
    // cut from the text, or `reportedId` when given (the id as the script
    // wrote it, before the text was converted).
    int WritePrintData(std::string text, const std::optional<std::string>& reportedId = std::nullopt);

    // The order ids printed since the last call, joined with ",", and forgets them.
    std::string takePrintedOrderIds();

    // How long one device write may take before it counts as failed.
    void setWriteTimeout(std::chrono::milliseconds timeout);

    // One open, write and close of the device for one paragraph: ESC @, the
    // segments, three line feeds, each write logged. 0 when every byte was
    // written, -6 when the device did not open, -7 when a write failed, timed
    // out or stayed short; the cycle writes nothing after such a write.
    static int DeviceCycle(const std::vector<ReceiptSegment>& segments, const std::string& devicePath,
                           std::chrono::milliseconds writeTimeout);

    // One logged write; a length of 0 means up to the first zero byte. Gives
    // the number of bytes written.
    static std::size_t writeToDevice(platform::UsbDeviceFile& device, const char* bytes, std::size_t length);

private:
    // Stores a fresh enumeration and appends its pairs to `list`.
    int storeDevices(std::optional<std::vector<UsbDeviceRecord>> found, std::vector<PrinterEntry>& list);

    mutable std::mutex lock_;
    std::vector<UsbDeviceRecord> devices;
    std::string m_string_driver;
    std::vector<std::string> printedOrderIds;
    std::chrono::milliseconds writeTimeout_{std::chrono::seconds(10)};
};
