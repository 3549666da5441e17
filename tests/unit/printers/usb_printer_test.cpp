// Driverless USB printers on fake devices whose nodes are FIFOs or plain
// files: natively a fake sysfs tree, under Wine the test prefix's
// device-setup registry keys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "driver_printer.h"
#include "fake_usb_tree.h"
#include "printer_test_files.h"
#include "usb_printer.h"

namespace {

using namespace printer_test;
using namespace std::string_literals;

TEST(UsbDeviceName, IsTheSecondPartOfTheInstanceId) {
    EXPECT_EQ(deviceNameFromInstanceId("USB\\VID_1234&PID_5678\\SER"), "VID_1234&PID_5678");
    EXPECT_EQ(deviceNameFromInstanceId("USB\\VID_1234&PID_5678"), "VID_1234&PID_5678");
    EXPECT_EQ(deviceNameFromInstanceId("VID_1234&PID_5678"), "");
    EXPECT_EQ(deviceNameFromInstanceId(""), "");
    EXPECT_EQ(deviceNameFromInstanceId("USB\\\\X"), "");
}

TEST(UsbPrint, WithoutAChosenDeviceNothingHappens) {
    UsbPrinter printer;
    EXPECT_EQ(printer.WritePrintData("<p_s><h1>A<p_e><o_s>1<o_e>"), kUsbNoDeviceChosen);
    EXPECT_TRUE(printer.deviceList().empty());
    EXPECT_EQ(printer.takePrintedOrderIds(), "");
}

// One cycle on a plain file standing in for the device.
TEST(UsbDeviceCycle, WritesInitialiseSegmentsAndThreeLineFeeds) {
    ScratchFolder folder;
    const fs::path device = folder.path() / "device";
    writeBytes(device, "");
    const std::string paragraph = "dropped<h0>abc<w1>";
    EXPECT_EQ(UsbPrinter::DeviceCycle(tokenizeSegments(paragraph), device.string(), std::chrono::seconds(10)), 0);
    EXPECT_EQ(readBytes(device), "\x1B\x40" "\x1B\x61\x00"s "abc" "\x1B\x61\x00"s "\x1D\x21\x10" "\n\n\n");
    EXPECT_EQ(UsbPrinter::DeviceCycle(tokenizeSegments(paragraph), (folder.path() / "gone" / "device").string(),
                                      std::chrono::seconds(10)),
              kUsbOpenFailed);
}

constexpr char kModel[] = "VID_0416&PID_5011";

// Two printers of one model (enumerated 1-2 before 1-10), a mouse receiver,
// a composite device whose printer function has no usblp, and the root hub.
void addShopDevices(FakeUsbTree& tree) {
    tree.device("usb1", "1d6b", "0002", "EHCI Host Controller");
    tree.device("1-10", "0416", "5011", "POS58 Printer", "SN0002");
    tree.interface("1-10", "07", "usblp", "lp0");
    tree.device("1-2", "0416", "5011", "POS58 Printer");
    tree.interface("1-2", "07", "usblp", "lp1");
    tree.device("1-3", "046d", "c52b", "USB Receiver");
    tree.interface("1-3", "03", "usbhid");
    tree.device("1-4", "04b8", "0e15", "Composite Device");
    tree.interface("1-4", "07", "");
}

TEST(UsbListing, ListsPrintersOnlyInEnumerationOrder) {
    FakeUsbTree tree;
    addShopDevices(tree);
    UsbPrinter printer;
    std::vector<PrinterEntry> list{{"kept", "first"}};
    EXPECT_EQ(printer.enumUsbPrinters(list), 2);
    const std::vector<PrinterEntry> expected{{"kept", "first"}, {kModel, "USB"}, {kModel, "USB"}};
    EXPECT_EQ(list, expected);
    const auto devices = printer.deviceList();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].instanceId, "USB\\VID_0416&PID_5011\\1-2");
    EXPECT_EQ(devices[0].description, "USB Printing Support");
    EXPECT_EQ(devices[0].devicePath, tree.devicePath("lp1"));
    EXPECT_EQ(devices[1].instanceId, "USB\\VID_0416&PID_5011\\SN0002");
    EXPECT_EQ(devices[1].devicePath, tree.devicePath("lp0"));

    // The description alone decides, in either language.
    tree.device("2-1", "1a86", "7584", "USB \xB4\xF2\xD3\xA1\xD6\xA7\xB3\xD6");
    tree.device("2-2", "1a86", "7585", std::string(64, 'x') + "USB Printing Support");
    list.clear();
    EXPECT_EQ(printer.enumUsbPrinters(list), 3);
    EXPECT_EQ(list.back(), (PrinterEntry{"VID_1A86&PID_7584", "USB"}));

    tree.remove();
    list.clear();
#ifdef _WIN32
    EXPECT_EQ(printer.enumUsbPrinters(list), 0);
#else
    EXPECT_EQ(printer.enumUsbPrinters(list), 1);
#endif
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(printer.deviceList().empty());
}

TEST(UsbPrint, GoesToTheFirstOfTwoIdenticalPrintersOneCyclePerParagraph) {
    FakeUsbTree tree;
    addShopDevices(tree);
    makeFifo(tree.node("lp1"));
    writeBytes(tree.node("lp0"), "");
    UsbPrinter printer;
    printer.setDriver(kModel);
    FifoReader reader(tree.node("lp1"));
    const std::string receipt =
        "<p_s><c0>Hi<w1>big<p_e><p_s>no tag<p_e><p_s><bc>12345678901234567<p_e><o_s>5001<o_e>";
    EXPECT_EQ(printer.WritePrintData(receipt), kUsbPrinted);
    EXPECT_EQ(reader.finish(),
              "\x1B\x40" "\x1B\x61\x01" "Hi" "\x1B\x61\x00"s "\x1D\x21\x10" "big" "\n\n\n"
              "\x1B\x40" "\x1B\x61\x01" "\x1D\x68\x3C" "\x1D\x77\x02" "\x1D\x6B\x49\x0B\x7B\x43"
              "\x01\x17\x2D\x43\x59\x01\x17\x2D\x43" "\n\n\n");
    EXPECT_EQ(readBytes(tree.node("lp0")), "");
    EXPECT_EQ(printer.takePrintedOrderIds(), "5001");
    EXPECT_EQ(printer.takePrintedOrderIds(), "");
}

TEST(UsbPrint, ResultCodes) {
    FakeUsbTree tree;
    tree.device("1-3", "046d", "c52b", "USB Receiver");
    UsbPrinter printer;
    printer.setDriver(kModel);
    EXPECT_EQ(printer.WritePrintData("<p_s><h1>A<p_e>"), kUsbNoDevices);

    addShopDevices(tree);
    printer.setDriver("VID_9999&PID_0001");
    EXPECT_EQ(printer.WritePrintData("<p_s><h1>A<p_e>"), kUsbDeviceNotFound);
    EXPECT_EQ(printer.deviceList().size(), 2u);

    // The chosen device's node is gone: the first cycle fails, nothing is recorded.
    printer.setDriver(kModel);
    EXPECT_EQ(printer.WritePrintData("<p_s><h1>A<p_e><o_s>4001<o_e>"), kUsbCycleFailed);
    EXPECT_EQ(printer.takePrintedOrderIds(), "");

    // A choice is not forgotten, and a print does not enumerate, without a name.
    printer.setDriver("");
    tree.remove();
    EXPECT_EQ(printer.WritePrintData("<p_s><h1>A<p_e>"), kUsbNoDeviceChosen);
    EXPECT_EQ(printer.deviceList().size(), 2u);
    printer.setDriver(kModel);
#ifdef _WIN32
    EXPECT_EQ(printer.WritePrintData("<p_s><h1>A<p_e>"), kUsbNoDevices);
#else
    // When the devices cannot be queried at all, no name matches.
    EXPECT_EQ(printer.WritePrintData("<p_s><h1>A<p_e>"), kUsbDeviceNotFound);
#endif
}

TEST(UsbPrint, OrderIdsAreCollectedInPrintOrderAndTakenOnce) {
    FakeUsbTree tree;
    addShopDevices(tree);
    writeBytes(tree.node("lp1"), "");
    UsbPrinter printer;
    printer.setDriver(kModel);
    EXPECT_EQ(printer.WritePrintData("<p_s><h1>A<p_e><o_s>1001<o_e>"), kUsbPrinted);
    EXPECT_EQ(printer.WritePrintData("<p_s><h1>B<p_e>"), kUsbPrinted);
    // Without paragraphs the text is the paragraph; an empty one opens nothing.
    EXPECT_EQ(printer.WritePrintData("<o_s>1002<o_e>"), kUsbPrinted);
    EXPECT_EQ(printer.takePrintedOrderIds(), "1001,1002");
    EXPECT_EQ(printer.takePrintedOrderIds(), "");
}

TEST(UsbPrint, AStuckDeviceWriteIsBoundedAndTheReceiptNotRecorded) {
    FakeUsbTree tree;
    addShopDevices(tree);
    // Nobody reads: once the FIFO's buffer is full the device takes nothing more.
    makeFifo(tree.node("lp1"));
    UsbPrinter printer;
    printer.setDriver(kModel);
    printer.setWriteTimeout(std::chrono::milliseconds(100));
    const std::string receipt = "<p_s><h1>" + std::string(1 << 20, 'x') + "<p_e><p_s><h1>y<p_e><o_s>3001<o_e>";
    EXPECT_EQ(printer.WritePrintData(receipt), kUsbWriteFailed);
    EXPECT_EQ(printer.takePrintedOrderIds(), "");
}

// The log's messages as a helper process wrote them, time stamps and
// categories cut off.
class LoggedPrint {
public:
    LoggedPrint() {
        fs::create_directories(folder_.path() / "log");
        fs::copy_file(fs::path(executableFolder()) / kHelper, folder_.path() / kHelper);
    }
    // Runs one print; gives its result code.
    std::string print(const std::string& receipt, const std::string& timeoutMs = "10000") {
        const fs::path out = folder_.path() / "result";
#ifdef _WIN32
        const char quote = '"';
#else
        const char quote = '\'';
#endif
        const auto quoted = [&](const std::string& text) { return quote + text + quote; };
        std::string command = quoted((folder_.path() / kHelper).string()) + " " + quoted(kModel) + " " +
                              quoted(receipt) + " " + timeoutMs + " > " + quoted(out.string());
#ifdef _WIN32
        // The shell drops the outer quotes of a line that starts with one.
        command = quoted(command);
#endif
        EXPECT_EQ(std::system(command.c_str()), 0);
        std::string result = readBytes(out);
        // Standard output in text mode on Windows.
        std::erase(result, '\r');
        return result;
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> lines;
        std::istringstream log(readBytes(folder_.path() / "log" / "kesto.log"));
        for (std::string line; std::getline(log, line);) {
            const auto start = line.find("[default]");
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (start != std::string::npos) lines.push_back(line.substr(start + 9));
        }
        return lines;
    }

private:
#ifdef _WIN32
    static constexpr char kHelper[] = "usb_print_helper.exe";
#else
    static constexpr char kHelper[] = "usb_print_helper";
#endif
    ScratchFolder folder_;
};

TEST(UsbPrintLog, NamesTheDeviceAndEveryWrite) {
    FakeUsbTree tree;
    addShopDevices(tree);
    writeBytes(tree.node("lp1"), "");
    LoggedPrint run;
    EXPECT_EQ(run.print("<p_s><h1>Hi<p_e>"), "0\n");
    const std::vector<std::string> expected{"begin print " + tree.devicePath("lp1"),
                                            "WriteFile ret:1, Written: 2", "WriteFile ret:1, Written: 3",
                                            "WriteFile ret:1, Written: 3", "WriteFile ret:1, Written: 2",
                                            "WriteFile ret:1, Written: 3"};
    EXPECT_EQ(run.messages(), expected);
}

#ifndef _WIN32

// The receipt is longer than a Windows command line may be.
TEST(UsbPrintLog, AShortWriteGoesOnAndATimedOutOneEndsTheReceipt) {
    FakeUsbTree tree;
    addShopDevices(tree);
    makeFifo(tree.node("lp1"));
    LoggedPrint run;
    // More than the FIFO's 64 KiB, less than one argument may carry: the
    // device takes a part, then nothing more.
    EXPECT_EQ(run.print("<p_s><h1>" + std::string(120000, 'x') + "<p_e>", "100"), "-7\n");
    const auto messages = run.messages();
    ASSERT_EQ(messages.size(), 7u);
    const std::string took = messages[4].substr(messages[4].rfind(' ') + 1);
    EXPECT_EQ(messages[4], "WriteFile ret:1, Written: " + took);
    EXPECT_LT(std::stoi(took), 120000);
    EXPECT_EQ(messages[5], "WriteFile ret:0, Written: 0");
    EXPECT_EQ(messages[6], "device write incomplete: " + took + " of 120000 bytes");
}

// /dev/full takes the device's place: every write fails, as on a printer
// that was unplugged; nothing after the failed write is tried.
TEST(UsbPrintLog, AFailingWriteEndsTheReceiptUnrecorded) {
    FakeUsbTree tree;
    addShopDevices(tree);
    fs::create_symlink("/dev/full", tree.node("lp1"));
    LoggedPrint run;
    EXPECT_EQ(run.print("<p_s><h1>A<p_e><p_s><h1>B<p_e><o_s>5<o_e>"), "-7\n");
    const std::vector<std::string> expected{"begin print " + tree.node("lp1").string(), "WriteFile ret:0, Written: 0",
                                            "device write incomplete: 0 of 2 bytes"};
    EXPECT_EQ(run.messages(), expected);
}

#endif

}  // namespace
