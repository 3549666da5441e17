// Driverless USB receipt printers: found through the device-setup interface,
// chosen by name, printed on by writing ESC/POS bytes straight to the device.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/printer_status.h"
#include "binding/receipt_markup.h"

namespace binding {

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
// Result of WritePrintData when the printer said it cannot print: before the
// receipt (nothing of it was sent) or after it (it stopped meanwhile).
inline constexpr int kUsbPrinterNotReady = -8;

// The printer's real-time status. Each answer is awaited this long.
inline constexpr std::chrono::milliseconds kStatusAnswerBound{500};
// A device that gave no answer is not asked again for this long, so a
// printer that cannot answer costs one bounded wait a minute.
inline constexpr std::chrono::seconds kNoAnswerPause{60};
// A device that answers status but did not confirm a receipt is not asked
// to confirm again for this long.
inline constexpr std::chrono::minutes kNoConfirmationPause{10};

// The word for the answers to DLE EOT 1 (printer), 2 (offline cause) and 4
// (paper sensor); a missing answer adds nothing.
PrinterStatus summarizeStatus(std::optional<std::uint8_t> printer, std::optional<std::uint8_t> offlineCause,
                              std::optional<std::uint8_t> paper);

// How long a printer may take to confirm a receipt of `bytes` bytes: 3 s,
// plus 1 s per 2 KiB for the paper to move, at most 30 s.
std::chrono::milliseconds confirmationBound(std::size_t bytes);

// The add-on's USB state. The script thread lists, chooses and asks for
// status words while the print thread prints and queries. The lock guards the
// fields only: it is never held over an enumeration or a device call, so a
// listing, a choice or a status word never waits for a print; a print works
// with the choice and device list it read at its start.
//
// WritePrintData, DeviceCycle and m_string_driver keep the names the system's
// documents give them; everything else follows the tree's own convention.
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
    // device cycle per paragraph, with a status cycle before the first and
    // after the last; 0, -1, -2, -3, -5, -7 or -8. Only a receipt every byte
    // of which reached the device, on a printer that did not say it stopped,
    // records its order id: the one cut from the text, or `reportedId` when
    // given (the id as the script wrote it, before the text was converted).
    int WritePrintData(std::string text, const std::optional<std::string>& reportedId = std::nullopt);

    // The word last known for a device, "unknown" before any answer; the
    // empty name stands for the chosen device. `query` names the device a
    // fresh query should be queued for, empty when one already waits (or no
    // device is chosen).
    struct StatusRequest {
        PrinterStatus known = PrinterStatus::Unknown;
        std::string query;
    };
    StatusRequest requestStatus(const std::string& name);
    PrinterStatus lastStatus(const std::string& name) const;

    // Asks the named device now, on the print thread; a device in its
    // no-answer pause is not asked and keeps its word.
    PrinterStatus refreshStatus(const std::string& name);

    // The clock of the pauses; tests move it instead of waiting.
    void setStatusClock(std::function<std::chrono::steady_clock::time_point()> clock);

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

private:
    struct DeviceStatus {
        PrinterStatus word = PrinterStatus::Unknown;
        std::chrono::steady_clock::time_point quietUntil{};        // no status cycle before then
        std::chrono::steady_clock::time_point unconfirmedUntil{};  // no confirmation asked before then
        bool queryWaiting = false;
    };

    // Stores a fresh enumeration and appends its pairs to `list`.
    int storeDevices(std::optional<std::vector<UsbDeviceRecord>> found, std::vector<PrinterEntry>& list);
    // The chosen device's record after a fresh enumeration; -2 or -3 and the
    // word "absent" when there is none.
    std::optional<UsbDeviceRecord> findDevice(const std::string& name, int& failure);
    std::chrono::steady_clock::time_point now() const;
    // Whether the device is out of its no-answer pause, and whether it may be
    // asked to confirm.
    bool statusDue(const std::string& name) const;
    bool confirmationDue(const std::string& name) const;
    // Keeps a word; "no-answer" starts the device's pause.
    void noteStatus(const std::string& name, PrinterStatus word);
    void noteUnconfirmed(const std::string& name);

    mutable std::mutex lock_;
    std::vector<UsbDeviceRecord> devices_;
    std::string m_string_driver;
    std::vector<std::string> printedOrderIds_;
    std::chrono::milliseconds writeTimeout_{std::chrono::seconds(10)};
    std::map<std::string, DeviceStatus, std::less<>> statuses_;
    std::function<std::chrono::steady_clock::time_point()> clock_ = [] { return std::chrono::steady_clock::now(); };
};

}  // namespace binding
