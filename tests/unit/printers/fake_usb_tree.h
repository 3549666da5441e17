// USB devices for the backend to find, and FIFOs (one-way) or pseudo-terminals
// (two-way) standing in for printers.
//
// Natively: a sysfs tree and a /dev tree found through ORVANE_SYSFS_ROOT and
// ORVANE_DEV_ROOT. Under Wine: the device-setup registry keys of the test
// prefix (the device's Enum key with its description and setup class, which
// Wine needs to list it, and its interface under
// the USB device interface class, linked) and, for a printer, a link in the
// prefix's dosdevices folder from the interface path to the node, which is
// how Wine resolves \\?\ names it has no device for. A printer is a device
// with a printer-class interface bound to usblp and a node; on Windows that is
// the generic printing support, so it gets its description.
#pragma once

#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/unit/printers/printer_test_files.h"

namespace printer_test {

class FakeUsbTree {
public:
    FakeUsbTree() : devices_(folder_.path() / "sys/bus/usb/devices"), nodes_(folder_.path() / "dev/usb") {
        fs::create_directories(devices_);
        fs::create_directories(nodes_);
#ifndef _WIN32
        for (const char* driver : {"usblp", "usbhid"}) fs::create_directories(folder_.path() / "sys/bus/usb/drivers" / driver);
        ::setenv("ORVANE_SYSFS_ROOT", (folder_.path() / "sys").c_str(), 1);
        ::setenv("ORVANE_DEV_ROOT", (folder_.path() / "dev").c_str(), 1);
#endif
    }
    ~FakeUsbTree() {
#ifdef _WIN32
        remove();
        // Wine spins for ever deleting a FIFO; the nodes go from the Unix side.
        shell(folder_.path(), "rm -rf '" + unixPath(nodes_) + "'");
#else
        ::unsetenv("ORVANE_SYSFS_ROOT");
        ::unsetenv("ORVANE_DEV_ROOT");
#endif
    }
    FakeUsbTree(const FakeUsbTree&) = delete;
    FakeUsbTree& operator=(const FakeUsbTree&) = delete;

    void device(const std::string& port, const std::string& vendor, const std::string& product,
                const std::string& productName, const std::string& serial = "") {
#ifdef _WIN32
        // Root hubs expose the hub interface, not the device one.
        if (port.rfind("usb", 0) == 0) return;
        Device& entry = windowsDevices_[port];
        entry.hardware = "VID_" + upper(vendor) + "&PID_" + upper(product);
        entry.instance = serial.empty() ? port : serial;
        entry.description = productName;
        writeKeys(entry);
#else
        const fs::path dir = devices_ / port;
        writeBytes(dir / "idVendor", vendor + "\n");
        writeBytes(dir / "idProduct", product + "\n");
        writeBytes(dir / "product", productName + "\n");
        if (!serial.empty()) writeBytes(dir / "serial", serial + "\n");
#endif
    }
    // An interface of class `interfaceClass` bound to `driver`, with an lp
    // node when `node` is given.
    void interface(const std::string& port, const std::string& interfaceClass, const std::string& driver,
                   const std::string& node = "") {
#ifdef _WIN32
        auto found = windowsDevices_.find(port);
        if (found == windowsDevices_.end() || interfaceClass != "07" || driver != "usblp" || node.empty()) return;
        Device& entry = found->second;
        entry.description = "USB Printing Support";
        entry.node = node;
        writeKeys(entry);
        shell(folder_.path(), "ln -sfn '" + unixPath(this->node(node)) + "' '" + linkPath(entry) + "'");
#else
        const fs::path dir = devices_ / (port + ":1.0");
        writeBytes(dir / "bInterfaceClass", interfaceClass + "\n");
        if (!driver.empty()) fs::create_directory_symlink(folder_.path() / "sys/bus/usb/drivers" / driver, dir / "driver");
        if (!node.empty()) fs::create_directories(dir / "usbmisc" / node);
#endif
    }
    fs::path node(const std::string& name) const { return nodes_ / name; }

    // The path the backend gives for the printer whose node is `name`.
    std::string devicePath(const std::string& name) const {
#ifdef _WIN32
        for (const auto& [port, entry] : windowsDevices_)
            if (entry.node == name) return "\\\\?\\" + interfaceName(entry);
        return {};
#else
        return node(name).string();
#endif
    }

    // Natively the devices cannot be queried any more; under Wine they are
    // unplugged, since the device-setup interface always answers.
    void remove() {
#ifdef _WIN32
        if (windowsDevices_.empty()) return;
        std::string keys = "REGEDIT4\r\n\r\n";
        std::string links;
        for (const auto& [port, entry] : windowsDevices_) {
            keys += "[-" + interfaceKey(entry) + "]\r\n[-" + enumKey(entry) + "]\r\n";
            if (!entry.node.empty()) links += " '" + linkPath(entry) + "'";
        }
        windowsDevices_.clear();
        importKeys(keys);
        if (!links.empty()) shell(folder_.path(), "rm -f" + links);
#else
        fs::remove_all(folder_.path() / "sys");
#endif
    }

#ifdef _WIN32
    // Unix path of a path on one of the prefix's drives.
    static std::string unixPath(const fs::path& path) {
        std::string text = path.string();
        for (char& c : text)
            if (c == '\\') c = '/';
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
        return prefix() + "/dosdevices/" + text;
    }
    // Runs a command line of the test prefix's shell.
    static void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }
    // Runs a Unix shell command, written to a script in `folder` (the
    // prefix's shell would read the & of the names as its own), and waits
    // for its end: "start /wait" cannot wait for a Unix program.
    static void shell(const fs::path& folder, const std::string& command) {
        static int count = 0;
        const std::string name = "command-" + std::to_string(++count);
        const fs::path done = folder / (name + ".done");
        writeBytes(folder / (name + ".sh"), command + "\n: > '" + unixPath(done) + "'\n");
        run("start /unix /bin/sh " + unixPath(folder / (name + ".sh")));
        EXPECT_TRUE(eventually([&] { return fs::exists(done); })) << command;
    }
#endif

private:
#ifdef _WIN32
    struct Device {
        std::string hardware;
        std::string instance;
        std::string description;
        std::string node;
    };
    static constexpr char kInterfaceClass[] = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

    static std::string prefix() {
        const char* value = std::getenv("WINEPREFIX");
        return value != nullptr ? value : "";
    }
    static std::string upper(std::string text) {
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    }
    static std::string lower(std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }
    // As Wine reports it: the interface key's name, lower case, # for \.
    static std::string interfaceName(const Device& entry) {
        return lower("USB#" + entry.hardware + "#" + entry.instance + "#") + kInterfaceClass;
    }
    static std::string enumKey(const Device& entry) {
        return "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\" + entry.hardware + "\\" + entry.instance;
    }
    static std::string interfaceKey(const Device& entry) {
        return std::string("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\") +
               kInterfaceClass + "\\##?#USB#" + entry.hardware + "#" + entry.instance + "#" + kInterfaceClass;
    }
    static std::string linkPath(const Device& entry) { return prefix() + "/dosdevices/" + interfaceName(entry); }
    static std::string quoted(const std::string& text) {
        std::string out = "\"";
        for (char c : text) {
            if (c == '\\' || c == '"') out += '\\';
            out += c;
        }
        return out + "\"";
    }

    void writeKeys(const Device& entry) {
        const std::string symbolicLink = "\\\\?\\" + interfaceName(entry);
        importKeys("REGEDIT4\r\n\r\n[" + enumKey(entry) + "]\r\n\"DeviceDesc\"=" + quoted(entry.description) +
                   "\r\n\"ClassGUID\"=\"{36FC9E60-C465-11CF-8056-444553540000}\"\r\n\r\n[" + interfaceKey(entry) + "]\r\n\"DeviceInstance\"=" +
                   quoted("USB\\" + entry.hardware + "\\" + entry.instance) + "\r\n\r\n[" + interfaceKey(entry) +
                   "\\#]\r\n\"SymbolicLink\"=" + quoted(symbolicLink) + "\r\n\r\n[" + interfaceKey(entry) +
                   "\\#\\Control]\r\n\"Linked\"=dword:00000001\r\n");
    }
    void importKeys(const std::string& text) {
        const fs::path file = folder_.path() / "keys.reg";
        writeBytes(file, text);
        run("reg import " + file.string());
    }

    std::map<std::string, Device> windowsDevices_;
#endif
    ScratchFolder folder_;
    fs::path devices_;
    fs::path nodes_;
};

#ifdef _WIN32

inline void makeFifo(const fs::path& path) {
    FakeUsbTree::shell(path.parent_path(), "mkfifo '" + FakeUsbTree::unixPath(path) + "'");
}

// Everything written to a FIFO device while the reader is open, across any
// number of device opens and closes. Wine opens a FIFO without waiting for
// its other end and reads nothing from it, so the reader is a Unix one; it
// holds a writer of its own so that a device close is no end of file.
class FifoReader {
public:
    // Its files lie beside the FIFO, in the tree's own folder.
    explicit FifoReader(const fs::path& path) : base_(path.string() + ".reader") {
        const fs::path script = base_.string() + ".sh";
        writeBytes(script,
                   "cat \"$1\" > \"$2.part\" &\n"
                   "exec 3> \"$1\"\n"
                   ": > \"$2.ready\"\n"
                   "while [ ! -e \"$2.stop\" ]; do sleep 0.05; done\n"
                   "exec 3>&-\n"
                   "wait\n"
                   "mv \"$2.part\" \"$2\"\n");
        FakeUsbTree::run("start /unix /bin/sh " + FakeUsbTree::unixPath(script) + " " + FakeUsbTree::unixPath(path) +
                         " " + FakeUsbTree::unixPath(base_));
        EXPECT_TRUE(eventually([&] { return fs::exists(base_.string() + ".ready"); }));
    }
    ~FifoReader() { writeBytes(base_.string() + ".stop", ""); }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;
    std::string finish() {
        writeBytes(base_.string() + ".stop", "");
        EXPECT_TRUE(eventually([&] { return fs::exists(base_); }));
        return readBytes(base_);
    }

private:
    fs::path base_;
};

#else

inline void makeFifo(const fs::path& path) { ASSERT_EQ(std::system(("mkfifo '" + path.string() + "'").c_str()), 0); }

// Everything written to a FIFO device while the reader is open, across any
// number of device opens and closes.
class FifoReader {
public:
    explicit FifoReader(const fs::path& path)
        : thread_([this, path] {
              std::ifstream in(path, std::ios::binary);
              data_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
          }),
          keeper_(path, std::ios::binary) {}
    std::string finish() {
        keeper_.close();
        thread_.join();
        return data_;
    }

private:
    std::string data_;
    std::thread thread_;
    std::ofstream keeper_;
};

#endif

// A two-way printer on a pseudo-terminal (tests/doubles/pty_printer.py)
// behind the node `node`, answering as `options` tell it; a Unix program,
// its files beside the node, in the tree's own folder.
class PtyPrinter {
public:
    PtyPrinter(const fs::path& node, const std::string& options) : folder_(node.string() + ".pty") {
        fs::create_directories(folder_);
#ifdef _WIN32
        FakeUsbTree::run(std::string("start /unix /usr/bin/python3 ") + ORVANE_PTY_PRINTER + " " +
                         FakeUsbTree::unixPath(node) + " " + FakeUsbTree::unixPath(folder_) + " " + options);
#else
        const std::string command = std::string("/usr/bin/python3 '") + ORVANE_PTY_PRINTER + "' '" + node.string() +
                                    "' '" + folder_.string() + "' " + options + " &";
        EXPECT_EQ(std::system(command.c_str()), 0);
#endif
        EXPECT_TRUE(eventually([&] { return fs::exists(folder_ / "ready"); }));
    }
    ~PtyPrinter() { writeBytes(folder_ / "stop", ""); }
    PtyPrinter(const PtyPrinter&) = delete;
    PtyPrinter& operator=(const PtyPrinter&) = delete;

    // Everything received so far: the receipt bytes, and the queries in hex.
    struct Received {
        std::string bytes;
        std::vector<std::string> queries;
    };
    Received received() const {
        writeBytes(folder_ / "sync", "");
        EXPECT_TRUE(eventually([&] { return !fs::exists(folder_ / "sync"); }));
        Received seen{readBytes(folder_ / "received"), {}};
        std::istringstream lines(readBytes(folder_ / "queries"));
        for (std::string line; std::getline(lines, line);) seen.queries.push_back(line);
        return seen;
    }

private:
    fs::path folder_;
};

}  // namespace printer_test
