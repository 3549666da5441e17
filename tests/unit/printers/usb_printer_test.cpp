// Driverless USB printers on fake devices whose nodes are FIFOs or plain
// files (one-way) or pseudo-terminals (two-way, answering status queries):
// natively a fake sysfs tree, under Wine the test prefix's device-setup
// registry keys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "binding/driver_printer.h"
#include "tests/unit/printers/fake_usb_tree.h"
#include "tests/unit/printers/printer_test_files.h"
#include "binding/usb_printer.h"

using namespace binding;

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

TEST(UsbStatus, TheWordSumsUpTheAnswersInOrderOfUrgency) {
    const auto word = [](int printer, int cause, int paper) {
        return statusWord(summarizeStatus(static_cast<std::uint8_t>(printer), static_cast<std::uint8_t>(cause),
                                          static_cast<std::uint8_t>(paper)));
    };
    EXPECT_EQ(word(0x12, 0x12, 0x12), "ready");
    EXPECT_EQ(word(0x12, 0x12, 0x16), "paper-low");       // one near-end sensor is enough
    EXPECT_EQ(word(0x1A, 0x12, 0x1E), "offline");
    EXPECT_EQ(word(0x1A, 0x52, 0x1E), "error");
    EXPECT_EQ(word(0x12, 0x12, 0x32), "paper-out");       // paper end on the sensor alone
    EXPECT_EQ(word(0x1A, 0x72, 0x72), "paper-out");
    EXPECT_EQ(word(0x1A, 0x76, 0x72), "cover-open");
    EXPECT_EQ(statusWord(summarizeStatus(std::nullopt, 0x12, 0x12)), "ready");
    EXPECT_EQ(confirmationBound(0), std::chrono::seconds(3));
    EXPECT_EQ(confirmationBound(4096), std::chrono::seconds(5));
    EXPECT_EQ(confirmationBound(1 << 20), std::chrono::seconds(30));
}

// Receipts one after another on a printer that answers as the case says;
// between them the pauses' clock may move on. Each step gives its result,
// what the printer was asked meanwhile, and whether its bytes reached it.
struct StatusStep {
    std::chrono::minutes clockMoves;
    int result;
    std::vector<std::string> queries;
    bool sent;
};
struct StatusCase {
    const char* name;
    const char* options;
    std::vector<StatusStep> steps;
    const char* word;
};

const std::vector<std::string> kStatus{"100401", "100402", "100404"};
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
const std::vector<std::string> kConfirm{"1d7201"};
const std::vector<std::string> kPaper{"100402", "100404"};

class UsbStatusCycles : public ::testing::TestWithParam<StatusCase> {};

TEST_P(UsbStatusCycles, AskBeforeAndAfterEachReceipt) {
    const StatusCase& c = GetParam();
    FakeUsbTree tree;
    addShopDevices(tree);
    PtyPrinter device(tree.node("lp1"), c.options);
    UsbPrinter printer;
    printer.setDriver(kModel);
    auto clock = std::chrono::steady_clock::now();
    printer.setStatusClock([&clock] { return clock; });
    std::size_t asked = 0;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const StatusStep& step = c.steps[i];
        clock += step.clockMoves;
        const std::string text = "R" + std::to_string(i);
        EXPECT_EQ(printer.WritePrintData("<p_s><h1>" + text + "<p_e><o_s>" + text + "<o_e>"), step.result) << i;
        const auto seen = device.received();
        EXPECT_EQ(std::vector<std::string>(seen.queries.begin() + static_cast<std::ptrdiff_t>(asked), seen.queries.end()),
                  step.queries)
            << i;
        EXPECT_EQ(seen.bytes.substr(bytes), step.sent ? "\x1B\x40\x1B\x61\x00\x1B\x21\x02"s + text + "\n\n\n" : "") << i;
        EXPECT_EQ(printer.takePrintedOrderIds(), step.result == 0 ? text : "") << i;
        asked = seen.queries.size();
        bytes = seen.bytes.size();
    }
    EXPECT_EQ(statusWord(printer.lastStatus("")), c.word);
}

INSTANTIATE_TEST_SUITE_P(
    Printers, UsbStatusCycles,
    ::testing::Values(
        StatusCase{"Ready", "--state ready", {{{}, 0, kStatus + kConfirm + kPaper, true}}, "ready"},
        StatusCase{"PaperOut", "--state paper-out", {{{}, kUsbPrinterNotReady, kStatus, false}}, "paper-out"},
        // One bounded wait, then a minute without asking.
        StatusCase{"Silent",
                   "--answers silent",
                   {{{}, 0, {"100401"}, true}, {{}, 0, {}, true}, {std::chrono::minutes(1), 0, {"100401"}, true}},
                   "no-answer"},
        // Counted printed; not asked to confirm for ten minutes.
        StatusCase{"StatusWithoutConfirmation",
                   "--answers no-confirm",
                   {{{}, 0, kStatus + kConfirm + kPaper, true},
                    {{}, 0, kStatus + kPaper, true},
                    {std::chrono::minutes(10), 0, kStatus + kConfirm + kPaper, true}},
                   "ready"}),
    [](const auto& param) { return std::string(param.param.name); });

// The log's messages as a helper process wrote them, time stamps and
// categories cut off.
class LoggedPrint {
public:
    LoggedPrint() {
        fs::create_directories(folder_.path() / "log");
        fs::copy_file(fs::path(executableFolder()) / kHelper, folder_.path() / kHelper);
    }
    // Runs one print, the helper's command line after `prefix`; gives its result code.
    std::string print(const std::string& receipt, const std::string& timeoutMs = "10000", const std::string& prefix = "") {
        const fs::path out = folder_.path() / "result";
        std::string command = prefix + shellQuoted((folder_.path() / kHelper).string()) + " " +
                              shellQuoted(kModel) + " " + shellQuoted(receipt) + " " + timeoutMs + " > " +
                              shellQuoted(out.string());
        EXPECT_EQ(runCommand(std::move(command)), 0);
        std::string result = readBytes(out);
        // Standard output in text mode on Windows.
        std::erase(result, '\r');
        return result;
    }
    const fs::path& folder() const { return folder_.path(); }
    std::vector<std::string> messages() const { return logMessages(folder_.path()); }

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

// A printer whose node the user may write but not read (the print runs as
// nobody, who is no owner of it): opened write-only, it is not asked and
// prints as before.
TEST(UsbPrintLog, ADeviceThatCannotBeOpenedForReadingIsNotAskedAndPrints) {
    FakeUsbTree tree;
    addShopDevices(tree);
    PtyPrinter device(tree.node("lp1"), "--state paper-out --slave-mode 602");
    LoggedPrint run;
    fs::permissions(run.folder() / "log", fs::perms::all);
    EXPECT_EQ(run.print("<p_s><h1>Hi<p_e>", "10000", "setpriv --reuid=65534 --regid=65534 --clear-groups "), "0\n");
    const std::vector<std::string> expected{"begin print " + tree.devicePath("lp1"),
                                            "WriteFile ret:1, Written: 2", "WriteFile ret:1, Written: 3",
                                            "WriteFile ret:1, Written: 3", "WriteFile ret:1, Written: 2",
                                            "WriteFile ret:1, Written: 3"};
    EXPECT_EQ(run.messages(), expected);
    const auto seen = device.received();
    EXPECT_EQ(seen.bytes, "\x1B\x40\x1B\x61\x00\x1B\x21\x02Hi\n\n\n"s);
    EXPECT_TRUE(seen.queries.empty());
}

#endif

}  // namespace
