#include "usb_devices.h"

#include <windows.h>
#include <setupapi.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

namespace {

// GUID_DEVINTERFACE_USB_DEVICE
const GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

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
                                                          0, nullptr))),
      timeout_(writeTimeout) {}

UsbDeviceFile::~UsbDeviceFile() {
    if (isOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool UsbDeviceFile::isOpen() const { return reinterpret_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE; }

// The handle stays synchronous; a watchdog cancels a write that the device
// does not complete in time, and keeps cancelling until the write has returned.
UsbDeviceFile::WriteResult UsbDeviceFile::write(const void* data, std::size_t size) {
    WriteResult result;
    if (!isOpen()) return result;
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return result;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, timeout_, [&] { return done; })) CancelSynchronousIo(self);
    });
    DWORD written = 0;
    const BOOL ok = WriteFile(reinterpret_cast<HANDLE>(handle_), data, static_cast<DWORD>(size), &written, nullptr);
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    finished.notify_one();
    watchdog.join();
    CloseHandle(self);
    result.ok = ok != FALSE;
    result.written = written;
    return result;
}

}  // namespace platform
