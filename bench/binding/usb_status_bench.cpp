// What the printer's status cycles cost a USB receipt, on the two-way fake
// printer (tests/doubles/pty_printer.py, a pseudo-terminal):
//   usb_status_bench SCRATCH
// prints one JSON object: the per-receipt times (median, in ms) on a
// printer that answers at once and on one in its no-answer pause (no
// cycles: the receipt alone), and the whole time of 100 receipts on a
// printer that never answers and on one that answers status but never
// confirms, each beginning with a fresh status table.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "binding/usb_printer.h"

using namespace binding;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kReceipts = 100;

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string receipt(int i) {
    const std::string id = "R" + std::to_string(100000 + i).substr(1);
    return "<p_s><h1>Receipt " + id + "\n<w1>Total 8.00<p_e><o_s>" + id + "<o_e>";
}

// One printer at port 1-n with node lpn, on a fresh pseudo-terminal.
class Printer {
public:
    Printer(const fs::path& root, int n, const std::string& options)
        : folder_(root / ("printer-" + std::to_string(n))) {
        const fs::path device = root / "sys/bus/usb/devices" / ("1-" + std::to_string(n));
        writeFile(device / "idVendor", "0416\n");
        writeFile(device / "idProduct", std::to_string(5010 + n) + "\n");
        writeFile(device / "product", "Receipt Printer\n");
        const fs::path iface = device.string() + ":1.0";
        writeFile(iface / "bInterfaceClass", "07\n");
        fs::create_directories(iface / "usbmisc" / ("lp" + std::to_string(n)));
        fs::create_directories(root / "sys/bus/usb/drivers/usblp");
        fs::create_directory_symlink(root / "sys/bus/usb/drivers/usblp", iface / "driver");
        fs::create_directories(folder_);
        fs::create_directories(root / "dev/usb");
        const std::string command = std::string("/usr/bin/python3 '") + ORVANE_PTY_PRINTER + "' '" +
                                    (root / "dev/usb" / ("lp" + std::to_string(n))).string() + "' '" +
                                    folder_.string() + "' " + options + " >/dev/null &";
        if (std::system(command.c_str()) != 0) std::exit(1);
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!fs::exists(folder_ / "ready")) {
            if (Clock::now() > deadline) std::exit(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        name = "VID_0416&PID_" + std::to_string(5010 + n);
    }
    ~Printer() { writeFile(folder_ / "stop", ""); }
    std::string name;

private:
    fs::path folder_;
};

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Each receipt's time, in ms; all must print.
std::vector<double> printEach(UsbPrinter& printer, int count) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (printer.WritePrintData(receipt(i)) != kUsbPrinted) std::exit(2);
        times.push_back(milliseconds(Clock::now() - start));
    }
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const fs::path root = fs::absolute(argv[1]) / "usb-status";
    fs::remove_all(root);
    ::setenv("ORVANE_SYSFS_ROOT", (root / "sys").c_str(), 1);
    ::setenv("ORVANE_DEV_ROOT", (root / "dev").c_str(), 1);
    double answering = 0;
    double alone = 0;
    double silent = 0;
    double unconfirmed = 0;
    {
        const Printer device(root, 1, "--state ready");
        UsbPrinter printer;
        printer.setDriver(device.name);
        printEach(printer, 5);
        answering = median(printEach(printer, kReceipts));
    }
    {
        const Printer device(root, 2, "--answers silent");
        UsbPrinter printer;
        printer.setDriver(device.name);
        const auto start = Clock::now();
        printEach(printer, kReceipts);
        silent = milliseconds(Clock::now() - start);
        // In its pause now: the receipts alone.
        alone = median(printEach(printer, kReceipts));
    }
    {
        const Printer device(root, 3, "--answers no-confirm");
        UsbPrinter printer;
        printer.setDriver(device.name);
        const auto start = Clock::now();
        printEach(printer, kReceipts);
        unconfirmed = milliseconds(Clock::now() - start);
    }
    std::printf("{\"answeringMs\": %.3f, \"aloneMs\": %.3f, \"silent100Ms\": %.1f, \"unconfirmed100Ms\": %.1f}\n",
                answering, alone, silent, unconfirmed);
    fs::remove_all(root);
    return 0;
}
