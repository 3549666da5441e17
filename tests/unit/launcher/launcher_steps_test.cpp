// The launcher's identity and slot steps in a private application-data folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <regex>

#include "platform/files.h"
#include "launcher/launcher_steps.h"
#include "platform/profile.h"
#include "tests/unit/support/test_folder.h"

using namespace launcher;

namespace {

const std::regex kIdPattern("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");

class LauncherSteps : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_TEST_FOLDER(); }

    std::wstring entry(const std::wstring& section, const std::wstring& key) {
        return platform::readProfileString((folder.kesto() / "orvane.ini").wstring(), section, key, L"<missing>",
                                           300);
    }
    std::string log() { return readBytes(folder.log()); }
    std::string pathText(const fs::path& p) { return p.string(); }

    // The ID this run logged after "\r\nuuid:".
    std::string loggedId() {
        const std::string text = log();
        const auto at = text.rfind("\r\nuuid:");
        return at == std::string::npos ? std::string() : text.substr(at + 7, 36);
    }

    TestFolder folder;
};

TEST_F(LauncherSteps, FirstStartMakesTheIdentityAndSettings) {
    prepareInstallIdentity();

    const std::string id = readBytes(folder.kesto() / "uuid");
    EXPECT_EQ(id.size(), 36u);
    EXPECT_TRUE(std::regex_match(id, kIdPattern)) << id;
    EXPECT_EQ(log(), "\r\nuuid:" + id + "\r\nuuid path:" + pathText(folder.kesto() / "uuid"));

    EXPECT_EQ(entry(L"ORVANE_PATH", L"LAUNCHER"), platform::executablePath());
    EXPECT_EQ(fs::path(entry(L"ORVANE_PATH", L"WORKDIR")), folder.work());
    EXPECT_EQ(entry(L"ORVANE_VERSION", L"VERSION"), L"1.2.0");
    EXPECT_EQ(entry(L"SN", L"UUID"), fs::path(id).wstring());
    EXPECT_EQ(entry(L"ORVANE", L"ENV"), L"production");
}

TEST_F(LauncherSteps, SecondStartKeepsTheFileAndWritesANewIdToTheSettings) {
    prepareInstallIdentity();
    const std::string first = readBytes(folder.kesto() / "uuid");
    fs::remove(folder.log());

    prepareInstallIdentity();
    const std::string second = loggedId();
    EXPECT_EQ(readBytes(folder.kesto() / "uuid"), first);
    EXPECT_EQ(log(), "\r\nuuid:" + second + "\r\nuuid path:" + pathText(folder.kesto() / "uuid") +
                         "\r\nuuid file exist");
    EXPECT_NE(second, first);
    EXPECT_EQ(entry(L"SN", L"UUID"), fs::path(second).wstring());
}

TEST_F(LauncherSteps, PresentIdFileIsNeverRewritten) {
    for (const std::string& content : {std::string(), std::string("not an id"), std::string("x\r\n", 3)}) {
        writeBytes(folder.kesto() / "uuid", content);
        prepareInstallIdentity();
        EXPECT_EQ(readBytes(folder.kesto() / "uuid"), content);
    }
}

TEST_F(LauncherSteps, EnvironmentSwitchKeepsOnlyItsTwoValues) {
    const fs::path ini = folder.kesto() / "orvane.ini";
    const std::vector<std::pair<std::string, std::wstring>> cases = {
        {"testing", L"testing"},   {"production", L"production"}, {"Testing", L"production"},
        {"test", L"production"},   {"", L"production"},           {"PRODUCTION", L"production"},
        {"testing2", L"production"}, {"\"testing\"", L"testing"},
    };
    for (const auto& [stored, expected] : cases) {
        writeBytes(ini, "[ORVANE]\r\nENV=" + stored + "\r\n[OTHER]\r\nKEEP=1\r\n");
        prepareInstallIdentity();
        EXPECT_EQ(entry(L"ORVANE", L"ENV"), expected) << "stored: " << stored;
        EXPECT_EQ(entry(L"OTHER", L"KEEP"), L"1");
    }
    // A value longer than the 63 characters read is not a valid one.
    writeBytes(ini, "[ORVANE]\r\nENV=testing" + std::string(60, ' ') + "x\r\n");
    prepareInstallIdentity();
    EXPECT_EQ(entry(L"ORVANE", L"ENV"), L"production");
}

TEST_F(LauncherSteps, IdFileThatIsAFolderIsLoggedAndStartUpGoesOn) {
    fs::create_directories(folder.kesto() / "uuid");
    prepareInstallIdentity();

    EXPECT_TRUE(fs::is_directory(folder.kesto() / "uuid"));
    const std::string id = loggedId();
    EXPECT_TRUE(std::regex_match(id, kIdPattern)) << log();
#ifdef _WIN32
    const long code = 5;  // ERROR_ACCESS_DENIED
#else
    const long code = EISDIR;
#endif
    EXPECT_EQ(log(), "\r\nuuid:" + id + "\r\nuuid path:" + pathText(folder.kesto() / "uuid") +
                         "\r\nopen uuid file failed\r\n:" + std::to_string(code) + "\r\n");
    EXPECT_EQ(entry(L"SN", L"UUID"), fs::path(id).wstring());
    EXPECT_EQ(entry(L"ORVANE", L"ENV"), L"production");
}

TEST_F(LauncherSteps, SettingsThatCannotBeCreatedAreLogged) {
    fs::create_directories(folder.kesto() / "orvane.ini");
    prepareInstallIdentity();

    const std::string id = readBytes(folder.kesto() / "uuid");
    EXPECT_EQ(log(), "\r\nuuid:" + id + "\r\nuuid path:" + pathText(folder.kesto() / "uuid") +
                         "\r\ncreate orvane.ini file exist\r\nwrite init file failed");
    EXPECT_TRUE(fs::is_directory(folder.kesto() / "orvane.ini"));
}

#ifndef _WIN32
TEST_F(LauncherSteps, NoApplicationDataFolderWritesNothing) {
    folder.hideAppData();
    prepareInstallIdentity();
    EXPECT_EQ(log(), "\r\nget appdata dir failed:" + std::to_string(ENOENT) + "\r\n");
    EXPECT_FALSE(fs::exists(folder.root() / "no-data"));

    std::wstring slot = L"untouched";
    EXPECT_FALSE(pickUserDataSlot(slot));
    EXPECT_EQ(slot, L"untouched");
    EXPECT_EQ(log(), "\r\nget appdata dir failed:" + std::to_string(ENOENT) + "\r\n\r\nget appdata dir failed");
}
#endif

TEST_F(LauncherSteps, FirstSlotWithoutALockfileIsChosenAndCreated) {
    std::wstring slot;
    ASSERT_TRUE(pickUserDataSlot(slot));
    EXPECT_EQ(fs::path(slot), folder.kesto() / "UserData_1");
    EXPECT_TRUE(fs::is_directory(folder.kesto() / "UserData_1"));

    // The folder alone does not make a slot busy.
    ASSERT_TRUE(pickUserDataSlot(slot));
    EXPECT_EQ(fs::path(slot), folder.kesto() / "UserData_1");

    writeBytes(folder.kesto() / "UserData_1" / "lockfile", "");
    writeBytes(folder.kesto() / "UserData_2" / "lockfile", "");
    ASSERT_TRUE(pickUserDataSlot(slot));
    EXPECT_EQ(fs::path(slot), folder.kesto() / "UserData_3");
    EXPECT_TRUE(fs::is_directory(folder.kesto() / "UserData_3"));
    EXPECT_TRUE(log().empty()) << log();
}

TEST_F(LauncherSteps, SlotNumbersHaveNoUpperBound) {
    for (int n = 1; n <= 12; ++n) writeBytes(folder.kesto() / (std::string("UserData_") + std::to_string(n)) / "lockfile", "");
    // A marker that is a folder still marks the slot.
    fs::remove(folder.kesto() / "UserData_5" / "lockfile");
    fs::create_directories(folder.kesto() / "UserData_5" / "lockfile");
    std::wstring slot;
    ASSERT_TRUE(pickUserDataSlot(slot));
    EXPECT_EQ(fs::path(slot), folder.kesto() / "UserData_13");
}

// A slot counts only when its lockfile path fits the 260-character limit; the
// search then ends instead of testing a shorter path or looping for ever.
TEST_F(LauncherSteps, SlotsWhoseLockfilePathDoesNotFitAreNeverChosen) {
    struct Row {
        std::size_t kestoLength;
        int lockedSlots;
        int chosen;  // 0: no slot
    };
    const Row rows[] = {
        {239, 0, 1}, {239, 9, 0}, {240, 0, 0}, {248, 0, 0}, {249, 0, 0}, {250, 0, 0}, {251, 0, 0}, {259, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kestoLength);
        const std::wstring base = (folder.root() / std::to_string(row.kestoLength)).wstring();
        ASSERT_LT(base.size() + 2, row.kestoLength);
        const fs::path kesto = base + platform::kPathSeparator + std::wstring(row.kestoLength - base.size() - 1, L'k');
        ASSERT_EQ(kesto.wstring().size(), row.kestoLength);
        for (int n = 1; n <= row.lockedSlots; ++n)
            writeBytes(kesto / ("UserData_" + std::to_string(n)) / "lockfile", "");
        // Twice: a slot left without a lockfile is chosen again.
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::wstring slot = L"untouched";
            EXPECT_EQ(pickUserDataSlotIn(kesto.wstring(), slot), row.chosen != 0);
            EXPECT_EQ(slot, row.chosen ? (kesto / ("UserData_" + std::to_string(row.chosen))).wstring()
                                       : std::wstring(L"untouched"));
        }
        if (row.lockedSlots == 0 && row.chosen == 0) {
            EXPECT_FALSE(fs::exists(kesto));
        }
    }
}

}  // namespace
