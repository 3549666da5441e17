// USB devices as the device-setup interface shows them, raw writes to a
// device without driver or spooler, and reads of what the device answers.
//
// On Linux the devices are read from sysfs: every USB device under
// <sysfs>/bus/usb/devices is listed; one that has a printer-class interface
// bound to usblp is described as "USB Printing Support" (the name Windows gives
// its generic printing support) and written through <dev>/usb/lpN. Its
// instance id reads like the Windows one, USB\VID_xxxx&PID_xxxx\<serial, or
// port path when it has none>. The roots default to /sys and /dev; the
// variables ORVANE_SYSFS_ROOT and ORVANE_DEV_ROOT move them (tests use a fake
// tree this way).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/owned_handle.h"

namespace platform {

// Descriptions longer than this many bytes cannot be read, as with the
// 64-byte buffer the device-setup query is given.
inline constexpr std::size_t kMaxDeviceDescription = 63;

struct UsbDeviceInterface {
    std::string instanceId;
    std::string description;
    std::string devicePath;
};

// Present USB devices in enumeration order, those whose description cannot be
// read left out; nullopt when the devices cannot be queried at all.
std::optional<std::vector<UsbDeviceInterface>> listUsbDeviceInterfaces();

// A device opened for writing and, where the device allows it, reading;
// shared with other openers; closed on destruction.
class UsbDeviceFile {
public:
    // Opened read-write; where that is refused, write-only. A write that the
    // device has not completed within `writeTimeout` is abandoned and
    // reported as failed.
    UsbDeviceFile(const std::string& devicePath, std::chrono::milliseconds writeTimeout);
    UsbDeviceFile(const UsbDeviceFile&) = delete;
    UsbDeviceFile& operator=(const UsbDeviceFile&) = delete;

    bool isOpen() const { return handle_.valid(); }

    struct WriteResult {
        bool ok = false;
        std::size_t written = 0;
    };
    // One write; `written` may fall short of `size` when the device took
    // only part, which the caller must go on with.
    WriteResult write(const void* data, std::size_t size);

    struct ReadResult {
        // False when the device cannot be read at all: opened write-only, a
        // one-way interface (usblp refuses the read with EINVAL), a file or
        // pipe standing in for a device, or a read that failed.
        bool ok = false;
        std::size_t read = 0;  // 0 with ok: nothing came within the bound
    };
    // Takes what the device has sent, waiting at most `bound` for the first
    // byte; a bound of 0 takes only what is already waiting.
    ReadResult read(void* buffer, std::size_t size, std::chrono::milliseconds bound);

private:
    SystemHandle handle_;
    std::chrono::milliseconds timeout_;
    std::uint64_t offset_ = 0;
    bool readable_ = false;
};

}  // namespace platform
