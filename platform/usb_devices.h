// USB devices as the device-setup interface shows them, and raw writes to a
// device without driver or spooler.
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

// A device opened for synchronous reading and writing, shared with other
// openers; closed on destruction.
class UsbDeviceFile {
public:
    // A write that the device has not completed within `writeTimeout` is
    // abandoned and reported as failed.
    UsbDeviceFile(const std::string& devicePath, std::chrono::milliseconds writeTimeout);
    UsbDeviceFile(const UsbDeviceFile&) = delete;
    UsbDeviceFile& operator=(const UsbDeviceFile&) = delete;
    ~UsbDeviceFile();

    bool isOpen() const;

    struct WriteResult {
        bool ok = false;
        std::size_t written = 0;
    };
    // One write; `written` may fall short of `size` when the device took
    // only part, which the caller must go on with.
    WriteResult write(const void* data, std::size_t size);

private:
    std::intptr_t handle_;
    std::chrono::milliseconds timeout_;
    std::uint64_t offset_ = 0;
};

}  // namespace platform
