#include "usb_devices.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "bounded_wait.h"

namespace platform {

namespace {

// GUID_DEVINTERFACE_USB_DEVICE
const GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

class EventHandle {
public:
    EventHandle() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;
    ~EventHandle() {
        if (event_ != nullptr) CloseHandle(event_);
    }
    HANDLE get() const { return event_; }

private:
    HANDLE event_;
};

// A cancelled write normally ends at once; under Wine one to a pipe nobody
// reads ends only after a later cancel. Past these rounds it is given up.
constexpr std::chrono::milliseconds kCancelSlice{100};
constexpr int kCancelRounds = 50;

DWORD waitLimit(std::chrono::milliseconds limit) {
    return static_cast<DWORD>(std::clamp<long long>(limit.count(), 0, INFINITE - 1));
}

// What the system uses until a write has ended: its OVERLAPPED, event and
// bytes. A write that could not be seen to end keeps them for good.
struct PendingWrite {
    PendingWrite(const void* data, std::size_t size) : bytes(size) {
        if (size != 0) std::memcpy(bytes.data(), data, size);
    }
    OVERLAPPED overlapped{};
    EventHandle completed;
    std::vector<char> bytes;
};

class DeviceInfoSet {
public:
    DeviceInfoSet()
        : set_(SetupDiGetClassDevsA(&kUsbDeviceInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
    ~DeviceInfoSet() {
        if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
    }
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

std::optional<UsbDeviceInterface> readInterface(HDEVINFO set, SP_DEVINFO_DATA& device, SP_DEVICE_INTERFACE_DATA& iface) {
    DWORD needed = 0;
    if (SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &needed, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::nullopt;
    std::vector<BYTE> buffer(needed);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, needed, nullptr, nullptr)) return std::nullopt;

    std::vector<char> instanceId(260, '\0');
    SetupDiGetDeviceInstanceIdA(set, &device, instanceId.data(), static_cast<DWORD>(instanceId.size()), nullptr);
    std::vector<char> description(kMaxDeviceDescription + 1, '\0');
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, nullptr,
                                           reinterpret_cast<BYTE*>(description.data()),
                                           static_cast<DWORD>(kMaxDeviceDescription), nullptr))
        return std::nullopt;
    return UsbDeviceInterface{instanceId.data(), description.data(), detail->DevicePath};
}

}  // namespace

std::optional<std::vector<UsbDeviceInterface>> listUsbDeviceInterfaces() {
    DeviceInfoSet set;
    if (set.get() == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<UsbDeviceInterface> devices;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(SP_DEVINFO_DATA);
    for (DWORD d = 0; SetupDiEnumDeviceInfo(set.get(), d, &device); ++d) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set.get(), &device, &kUsbDeviceInterface, i, &iface); ++i) {
            if (auto entry = readInterface(set.get(), device, iface)) devices.push_back(std::move(*entry));
        }
    }
    return devices;
}

UsbDeviceFile::UsbDeviceFile(const std::string& devicePath, std::chrono::milliseconds writeTimeout)
    : handle_(reinterpret_cast<std::intptr_t>(CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                          FILE_FLAG_OVERLAPPED, nullptr))),
      timeout_(writeTimeout) {}

UsbDeviceFile::~UsbDeviceFile() {
    if (isOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool UsbDeviceFile::isOpen() const { return reinterpret_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE; }

// Overlapped, so that a write the device does not complete in time can be
// cancelled: a synchronous write that sits in the kernel (under Wine, one to
// a pipe nobody reads) is out of reach of CancelSynchronousIo. Every wait
// ends: a wait that fails, or a cancellation that does not take, counts the
// write as failed, and the write's memory is left to the system.
UsbDeviceFile::WriteResult UsbDeviceFile::write(const void* data, std::size_t size) {
    WriteResult result;
    if (!isOpen()) return result;
    const auto device = reinterpret_cast<HANDLE>(handle_);
    auto pending = std::make_unique<PendingWrite>(data, size);
    if (pending->completed.get() == nullptr) return result;
    OVERLAPPED& overlapped = pending->overlapped;
    // Offsets matter only to a plain file standing in for the device; they
    // continue where the last write ended, as a file pointer would.
    overlapped.Offset = static_cast<DWORD>(offset_);
    overlapped.OffsetHigh = static_cast<DWORD>(offset_ >> 32);
    overlapped.hEvent = pending->completed.get();
    if (!WriteFile(device, pending->bytes.data(), static_cast<DWORD>(size), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING)
        return result;
    const auto wait = [&](std::chrono::milliseconds limit) {
        switch (WaitForSingleObject(pending->completed.get(), waitLimit(limit))) {
        case WAIT_OBJECT_0: return WaitOutcome::Done;
        case WAIT_TIMEOUT: return WaitOutcome::TimedOut;
        default: return WaitOutcome::Failed;
        }
    };
    const auto cancel = [&] { CancelIoEx(device, &overlapped); };
    if (!awaitOperation(wait, cancel, timeout_, kCancelSlice, kCancelRounds)) {
        // The system may still finish the write into these.
        (void)pending.release();
        return result;
    }
    DWORD written = 0;
    result.ok = GetOverlappedResult(device, &overlapped, &written, FALSE) != FALSE;
    result.written = written;
    offset_ += written;
    return result;
}

}  // namespace platform
