#include "platform/usb_devices.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/bounded_wait.h"

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

// What the system uses until a read or write has ended: its OVERLAPPED, event
// and bytes. An operation that could not be seen to end keeps them for good.
struct PendingIo {
    explicit PendingIo(std::size_t size) : bytes(size) { overlapped.hEvent = completed.get(); }
    OVERLAPPED overlapped{};
    EventHandle completed;
    std::vector<char> bytes;
};

// Waits on the operation's event for the bound awaitOperation gives.
auto waitOn(const PendingIo& pending) {
    return [event = pending.completed.get()](std::chrono::milliseconds limit) {
        switch (WaitForSingleObject(event, waitLimit(limit))) {
        case WAIT_OBJECT_0: return WaitOutcome::Done;
        case WAIT_TIMEOUT: return WaitOutcome::TimedOut;
        default: return WaitOutcome::Failed;
        }
    };
}

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

namespace {

HANDLE openDevice(const std::string& devicePath, DWORD access) {
    return CreateFileA(devicePath.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace

// Only a device can answer: a file or a pipe standing in for one is not read.
UsbDeviceFile::UsbDeviceFile(const std::string& devicePath, std::chrono::milliseconds writeTimeout)
    : handle_(reinterpret_cast<std::intptr_t>(openDevice(devicePath, GENERIC_READ | GENERIC_WRITE))),
      timeout_(writeTimeout) {
    if (!isOpen()) {
        handle_.reset(reinterpret_cast<std::intptr_t>(openDevice(devicePath, GENERIC_WRITE)));
        return;
    }
    const DWORD type = GetFileType(reinterpret_cast<HANDLE>(handle_.get()));
    readable_ = type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE;
}

// Overlapped, so that a write the device does not complete in time can be
// cancelled: a synchronous write that sits in the kernel (under Wine, one to
// a pipe nobody reads) is out of reach of CancelSynchronousIo. Every wait
// ends: a wait that fails, or a cancellation that does not take, counts the
// write as failed, and the write's memory is left to the system.
UsbDeviceFile::WriteResult UsbDeviceFile::write(const void* data, std::size_t size) {
    WriteResult result;
    if (!isOpen()) return result;
    const auto device = reinterpret_cast<HANDLE>(handle_.get());
    auto pending = std::make_unique<PendingIo>(size);
    if (pending->completed.get() == nullptr) return result;
    if (size != 0) std::memcpy(pending->bytes.data(), data, size);
    OVERLAPPED& overlapped = pending->overlapped;
    // Offsets matter only to a plain file standing in for the device; they
    // continue where the last write ended, as a file pointer would.
    overlapped.Offset = static_cast<DWORD>(offset_);
    overlapped.OffsetHigh = static_cast<DWORD>(offset_ >> 32);
    if (!WriteFile(device, pending->bytes.data(), static_cast<DWORD>(size), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING)
        return result;
    const auto cancel = [&] { CancelIoEx(device, &overlapped); };
    if (!awaitOperation(waitOn(*pending), cancel, timeout_, kCancelSlice, kCancelRounds)) {
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

// Each read is overlapped and cancelled at the bound. A device that has
// nothing to send may complete a read at once with 0 bytes: that is nothing
// yet, and the read is made again until the bound. A wait that fails, or a
// cancelled read that does not end, gives the device up for reading; its
// buffer is then left to the system rather than freed under it.
UsbDeviceFile::ReadResult UsbDeviceFile::read(void* buffer, std::size_t size, std::chrono::milliseconds bound) {
    ReadResult result;
    if (!isOpen() || !readable_) return result;
    const auto device = reinterpret_cast<HANDLE>(handle_.get());
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (unsigned empty = 0;; ++empty) {
        auto pending = std::make_unique<PendingIo>(size);
        if (pending->completed.get() == nullptr) return result;
        if (!ReadFile(device, pending->bytes.data(), static_cast<DWORD>(size), nullptr, &pending->overlapped) &&
            GetLastError() != ERROR_IO_PENDING)
            return result;
        const auto left = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       deadline - std::chrono::steady_clock::now()),
                                   std::chrono::milliseconds(0));
        const auto cancel = [&] { CancelIoEx(device, &pending->overlapped); };
        if (!awaitOperation(waitOn(*pending), cancel, left, kCancelSlice, kCancelRounds)) {
            readable_ = false;
            static_cast<void>(pending.release());
            return result;
        }
        DWORD got = 0;
        // A read the cancel came too late for still counts.
        if (!GetOverlappedResult(device, &pending->overlapped, &got, FALSE) &&
            GetLastError() != ERROR_OPERATION_ABORTED)
            return result;
        result.ok = true;
        if (got > 0) {
            std::copy_n(pending->bytes.data(), got, static_cast<char*>(buffer));
            result.read = got;
            return result;
        }
        if (std::chrono::steady_clock::now() >= deadline) return result;
        // Nothing yet: ask again, at first at once, then a little apart.
        if (empty < 50) {
            SwitchToThread();
        } else {
            Sleep(1);
        }
    }
}

}  // namespace platform
