#include "platform/usb_devices.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace platform {

namespace {

constexpr char kPrintingSupport[] = "USB Printing Support";

std::string rootFromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] != '\0' ? std::string(value) : std::string(fallback);
}

// The first line of a sysfs attribute; nullopt when it cannot be read.
std::optional<std::string> readAttribute(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    if (in.bad()) return std::nullopt;
    return line;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> listNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// Port paths in the order a person reads them: 1-2 before 1-10.
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
            const unsigned long x = std::strtoul(a.substr(i, ei - i).c_str(), nullptr, 10);
            const unsigned long y = std::strtoul(b.substr(j, ej - j).c_str(), nullptr, 10);
            if (x != y) return x < y;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

// The lp node of a printer-class interface bound to usblp, if it has one.
std::optional<std::string> printerNode(const std::string& interfaceFolder) {
    const auto interfaceClass = readAttribute(interfaceFolder + "/bInterfaceClass");
    if (!interfaceClass || *interfaceClass != "07") return std::nullopt;
    std::error_code ec;
    const auto driver = std::filesystem::read_symlink(interfaceFolder + "/driver", ec);
    if (ec || driver.filename() != "usblp") return std::nullopt;
    for (const char* classFolder : {"/usbmisc", "/usb"}) {
        std::vector<std::string> nodes = listNames(interfaceFolder + classFolder);
        std::sort(nodes.begin(), nodes.end(), naturalLess);
        for (const auto& node : nodes) {
            if (node.rfind("lp", 0) == 0) return node;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<UsbDeviceInterface>> listUsbDeviceInterfaces() {
    const std::string folder = rootFromEnvironment("ORVANE_SYSFS_ROOT", "/sys") + "/bus/usb/devices";
    const std::string devRoot = rootFromEnvironment("ORVANE_DEV_ROOT", "/dev");
    DIR* probe = ::opendir(folder.c_str());
    if (probe == nullptr) return std::nullopt;
    ::closedir(probe);

    std::vector<std::string> names = listNames(folder);
    std::sort(names.begin(), names.end(), naturalLess);
    std::vector<UsbDeviceInterface> devices;
    for (const auto& name : names) {
        // Interfaces carry a colon; root hubs ("usbN") are hubs, not devices.
        if (name.find(':') != std::string::npos || name.rfind("usb", 0) == 0) continue;
        const std::string device = folder + "/" + name;
        const auto vendor = readAttribute(device + "/idVendor");
        const auto product = readAttribute(device + "/idProduct");
        if (!vendor || !product) continue;

        UsbDeviceInterface entry;
        const auto serial = readAttribute(device + "/serial");
        entry.instanceId = "USB\\VID_" + upper(*vendor) + "&PID_" + upper(*product) + "\\" +
                           (serial && !serial->empty() ? *serial : name);
        for (const auto& interfaceName : names) {
            if (interfaceName.rfind(name + ":", 0) != 0) continue;
            if (auto node = printerNode(folder + "/" + interfaceName)) {
                entry.description = kPrintingSupport;
                entry.devicePath = devRoot + "/usb/" + *node;
                break;
            }
        }
        if (entry.devicePath.empty()) {
            const auto description = readAttribute(device + "/product");
            if (!description) continue;
            entry.description = *description;
            entry.devicePath = device;
        }
        if (entry.description.size() > kMaxDeviceDescription) continue;
        devices.push_back(std::move(entry));
    }
    return devices;
}

namespace {

constexpr int kOpenFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

}  // namespace

// Only a character device can answer: reading a FIFO or a plain file that
// stands in for one would give back the bytes written to it.
UsbDeviceFile::UsbDeviceFile(const std::string& devicePath, std::chrono::milliseconds writeTimeout)
    : handle_(::open(devicePath.c_str(), O_RDWR | kOpenFlags)), timeout_(writeTimeout) {
    if (!isOpen()) {
        handle_.reset(::open(devicePath.c_str(), O_WRONLY | kOpenFlags));
        return;
    }
    struct stat status {};
    readable_ = ::fstat(static_cast<int>(handle_.get()), &status) == 0 && S_ISCHR(status.st_mode);
}

// usblp never gives up on a write the printer does not take; the descriptor
// is non-blocking so the wait can be bounded here. One call is one write: it
// gives what the device took, which may be less than asked (the caller goes
// on with the rest), and fails when the device refuses or takes nothing in time.
UsbDeviceFile::WriteResult UsbDeviceFile::write(const void* data, std::size_t size) {
    WriteResult result;
    if (!isOpen()) return result;
    if (size == 0) {
        result.ok = true;
        return result;
    }
    const int fd = static_cast<int>(handle_.get());
    const auto deadline = std::chrono::steady_clock::now() + timeout_;
    // Every round ends at the deadline, a storm of signals included; a wait
    // that fails for any other reason fails the write.
    for (;;) {
        const ssize_t n = ::write(fd, data, size);
        if (n >= 0) {
            result.ok = n > 0;
            result.written = static_cast<std::size_t>(n);
            return result;
        }
        const int error = errno;
        if (error != EINTR && error != EAGAIN && error != EWOULDBLOCK) return result;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return result;
        if (error == EINTR) continue;
        pollfd waiting{fd, POLLOUT, 0};
        if (::poll(&waiting, 1, static_cast<int>(std::min<long long>(left.count() + 1, 60000))) < 0 && errno != EINTR)
            return result;
    }
}

UsbDeviceFile::ReadResult UsbDeviceFile::read(void* buffer, std::size_t size, std::chrono::milliseconds bound) {
    ReadResult result;
    if (!isOpen() || !readable_) return result;
    const int fd = static_cast<int>(handle_.get());
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0) {
            // 0: the other end has gone, or a terminal with no minimum count.
            result.ok = true;
            result.read = static_cast<std::size_t>(n);
            return result;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return result;
        result.ok = true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return result;
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(std::min<long long>(left.count() + 1, 60000))) < 0 && errno != EINTR)
            return {};
    }
}

}  // namespace platform
