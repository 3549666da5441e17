// Whatever happens to an installer's path after it was checked, only the
// checked file may start.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/installer_signature.h"
#include "tests/unit/support/test_folder.h"

namespace {

// The probe writes this into its current folder, the test's work folder.
bool probeRan(const fs::path& work) {
    const fs::path marker = work / "installer_ran.txt";
    for (int i = 0; i < 1200 && !fs::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return fs::exists(marker);
}

std::wstring commandLine(const fs::path& program) { return L"\"" + program.wstring() + L"\" "; }

class HeldInstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_FOLDER();
        folder_.emplace();
        installer_ = folder_->root() / "1.3.0_kesto.exe";
        fs::copy_file(ORVANE_INSTALLER_PROBE, installer_);
        held_ = platform::HeldInstaller::open(installer_.wstring());
        ASSERT_TRUE(held_.isOpen());
    }

    std::optional<TestFolder> folder_;
    fs::path installer_;
    platform::HeldInstaller held_;
};

TEST_F(HeldInstallerTest, FilePutInItsPlaceIsNotStarted) {
    const fs::path other = folder_->root() / "other.exe";
    writeBytes(other, "not the checked program");
    std::error_code error;
    fs::rename(other, installer_, error);  // refused where the system keeps the file
    ASSERT_TRUE(held_.start(commandLine(installer_)));
    EXPECT_TRUE(probeRan(folder_->work()));
}

TEST_F(HeldInstallerTest, FileChangedInPlaceIsNotStarted) {
    std::ofstream writer(installer_, std::ios::binary | std::ios::app);
    const bool written = writer && (writer << "appended").flush();
    writer.close();
    if (written) {
        EXPECT_FALSE(held_.start(commandLine(installer_)));
    } else {
        ASSERT_TRUE(held_.start(commandLine(installer_)));
        EXPECT_TRUE(probeRan(folder_->work()));
    }
}

}  // namespace
