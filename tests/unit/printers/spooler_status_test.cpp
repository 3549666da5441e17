// A spooler printer's word from what its spooler reports, and the script's
// question answered from the last read while at most one read waits.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "binding/driver_printer.h"

using namespace binding;

namespace {

std::string_view wordOf(const platform::PrinterConditions& conditions) {
    return statusWord(spoolerStatusOf(conditions));
}

#ifdef _WIN32
// PRINTER_INFO_2 Status bits by their documented values.
struct StatusBitsCase {
    std::uint32_t status;
    std::string_view word;
};

const StatusBitsCase kStatusBits[] = {
    {0, "ready"},
    {0x00400000, "cover-open"},  // DOOR_OPEN
    {0x00000010, "paper-out"},   // PAPER_OUT
    {0x00000002, "error"},       // ERROR
    {0x00000008, "error"},       // PAPER_JAM
    {0x00000040, "error"},       // PAPER_PROBLEM
    {0x00100000, "error"},       // USER_INTERVENTION
    {0x00000800, "error"},       // OUTPUT_BIN_FULL
    {0x00000080, "offline"},     // OFFLINE
    {0x00000001, "offline"},     // PAUSED
    {0x00001000, "offline"},     // NOT_AVAILABLE
    // PRINTING, BUSY, PROCESSING, WARMING_UP, TONER_LOW, POWER_SAVE, MANUAL_FEED: a receipt still prints.
    {0x00000400 | 0x00000200 | 0x00004000 | 0x00010000 | 0x00020000 | 0x01000000 | 0x00000020, "ready"},
    // The most urgent wins.
    {0x00400000 | 0x00000010 | 0x00000002 | 0x00000080, "cover-open"},
    {0x00000010 | 0x00000008 | 0x00000001, "paper-out"},
    {0x00100000 | 0x00001000, "error"},
};

TEST(SpoolerStatus, PrinterStatusBitsGiveTheMostUrgentWord) {
    for (const auto& c : kStatusBits) {
        EXPECT_EQ(wordOf(platform::conditionsOfPrinterStatus(c.status)), c.word) << std::hex << c.status;
    }
}
#else
struct CupsStateCase {
    std::vector<std::string> reasons;
    bool stopped;
    std::string_view word;
};

const CupsStateCase kCupsStates[] = {
    {{"none"}, false, "ready"},
    {{}, false, "ready"},
    {{"cover-open-error"}, false, "cover-open"},
    {{"door-open-warning"}, false, "cover-open"},
    {{"door-open"}, false, "cover-open"},
    {{"media-empty-error"}, false, "paper-out"},
    {{"media-empty-report"}, false, "paper-out"},
    {{"media-needed"}, false, "paper-out"},
    {{"media-jam-warning"}, false, "error"},
    {{"toner-empty-error"}, false, "error"},
    {{"none"}, true, "offline"},
    {{"paused"}, true, "offline"},
    {{"offline-report"}, false, "offline"},
    {{"media-low-report"}, false, "paper-low"},
    {{"media-low-warning"}, false, "paper-low"},
    // Warnings, reports and the scheduler's own words do not stop a receipt.
    {{"toner-low-warning", "cups-missing-filter-warning", "connecting-to-device", "other-report"}, false, "ready"},
    // Keywords match whole.
    {{"door-opener-report", "media-emptyish", "xmedia-low"}, false, "ready"},
    // The most urgent wins, in whatever order they are listed.
    {{"media-low-report", "offline-report", "media-jam-error", "media-empty-error", "cover-open-error"}, true,
     "cover-open"},
    {{"media-low-warning", "toner-empty-error", "media-needed-warning", "paused"}, true, "paper-out"},
    {{"media-low-report", "toner-empty-error", "offline-report"}, false, "error"},
    {{"media-low-report"}, true, "offline"},
};

TEST(SpoolerStatus, CupsReasonsAndStateGiveTheMostUrgentWord) {
    for (const auto& c : kCupsStates) {
        std::string listed;
        for (const auto& reason : c.reasons) listed += reason + " ";
        EXPECT_EQ(wordOf(platform::conditionsOfCupsState(c.reasons, c.stopped)), c.word)
            << listed << (c.stopped ? "(stopped)" : "");
    }
}
#endif

TEST(SpoolerStatus, NoSuchPrinterIsAbsentAndAnUnreadStateNoAnswer) {
    EXPECT_EQ(spoolerStatusOf(std::nullopt), PrinterStatus::Absent);
    EXPECT_EQ(spoolerStatusOf(platform::PrinterConditions{.stateKnown = false, .paperOut = true}),
              PrinterStatus::NoAnswer);
}

TEST(SpoolerStatus, AnswersTheLastReadAndQueuesOneReadAtATime) {
    DriverPrinter printer;
    std::optional<platform::PrinterConditions> spooler = platform::PrinterConditions{.paperOut = true};
    std::vector<bool> askedDuringRead;
    printer.queries.conditions = [&](const std::string& name) {
        EXPECT_EQ(name, "Receipt");
        askedDuringRead.push_back(printer.askSpoolerStatus(name).queueRead);
        return spooler;
    };
    const auto answer = [&](const std::string& name) {
        const SpoolerStatusAnswer a = printer.askSpoolerStatus(name);
        return std::make_pair(std::string(statusWord(a.word)), a.queueRead);
    };
    EXPECT_EQ(answer("Receipt"), std::make_pair(std::string("unknown"), true));
    EXPECT_EQ(answer("Receipt"), std::make_pair(std::string("unknown"), false));
    EXPECT_EQ(answer("Kitchen"), std::make_pair(std::string("unknown"), true));

    EXPECT_EQ(printer.readSpoolerStatus("Receipt"), PrinterStatus::PaperOut);
    // A question asked while the read ran wants a read of its own.
    EXPECT_EQ(askedDuringRead, std::vector<bool>{true});
    EXPECT_EQ(answer("Receipt"), std::make_pair(std::string("paper-out"), false));
    EXPECT_EQ(answer("Kitchen"), std::make_pair(std::string("unknown"), false));

    spooler.reset();
    EXPECT_EQ(printer.readSpoolerStatus("Receipt"), PrinterStatus::Absent);
    EXPECT_EQ(answer("Receipt"), std::make_pair(std::string("absent"), false));
}

}  // namespace
