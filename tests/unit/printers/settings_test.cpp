// The printer object's defaults and the remembered printer in config.ini.
#include <gtest/gtest.h>

#include "binding/driver_printer.h"
#include "tests/unit/printers/printer_test_files.h"

using namespace binding;

namespace {

using namespace printer_test;

TEST(DriverPrinterDefaults, AreTheShippedOnes) {
    DriverPrinter printer;
    EXPECT_EQ(printer.printerName(), "XP-58");
    EXPECT_EQ(printer.paperWidth, 58);
    EXPECT_EQ(printer.monitorTime, 0);
    EXPECT_EQ(printer.checkTime, 0);
    EXPECT_TRUE(printer.trackedTaskList().empty());
    EXPECT_TRUE(printer.usbPrinter.driver().empty());
    EXPECT_TRUE(printer.usbPrinter.deviceList().empty());
    // config.ini lies beside the running program, here the test binary.
    const fs::path config(printer.configPath);
    EXPECT_EQ(config.filename(), "config.ini");
    EXPECT_EQ(config.parent_path().string(), executableFolder());
#ifdef _WIN32
    const char* self = "printers_tests.exe";
#else
    const char* self = "printers_tests";
#endif
    EXPECT_TRUE(fs::exists(fs::path(executableFolder()) / self));
}

TEST(SelectedPrinter, IsSavedAndReadBackByteForByte) {
    ScratchFolder folder;
    const std::string config = (folder.path() / "config.ini").string();
    EXPECT_EQ(readSelectedPrinter(config), "");
    const std::string name = "\xE5\x8E\xA8\xE6\x88\xBF XP-80 (2)";  // 厨房 in UTF-8, unconverted
    ASSERT_TRUE(saveSelectedPrinter(config, name));
    EXPECT_EQ(readSelectedPrinter(config), name);
    ASSERT_TRUE(saveSelectedPrinter(config, "Kitchen"));
    EXPECT_EQ(readSelectedPrinter(config), "Kitchen");
    EXPECT_NE(readBytes(config).find("[printer]"), std::string::npos);
}

TEST(SelectedPrinter, LongNameComesBackCutTo259Bytes) {
    ScratchFolder folder;
    const std::string config = (folder.path() / "config.ini").string();
    std::string name;
    for (int i = 0; name.size() < 300; ++i) name += static_cast<char>('a' + i % 26);
    ASSERT_TRUE(saveSelectedPrinter(config, name));
    EXPECT_EQ(readSelectedPrinter(config), name.substr(0, 259));
}

// Root may write anywhere it has permission bits for, so the folder is one
// that cannot hold files at all.
TEST(SelectedPrinter, FolderThatCannotHoldTheFileFails) {
    ScratchFolder folder;
    writeBytes(folder.path() / "not-a-folder", "x");
    const std::string insideFile = (folder.path() / "not-a-folder" / "config.ini").string();
    const std::string missing = (folder.path() / "missing" / "config.ini").string();
    EXPECT_FALSE(saveSelectedPrinter(insideFile, "Kitchen"));
    EXPECT_FALSE(saveSelectedPrinter(missing, "Kitchen"));
    EXPECT_EQ(readSelectedPrinter(missing), "");
    EXPECT_FALSE(fs::exists(folder.path() / "missing"));
}

}  // namespace
