#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include "updater/housekeeping.h"
#include "updater/md5.h"
#include "platform/process.h"
#include "tests/unit/support/test_folder.h"
#include "common/text.h"

using namespace common;
using namespace updater;

namespace {

// A process id that no running process has: high ids, multiples of four as
// Windows hands them out, above Linux's usual limit.
std::uint32_t endedProcessId() {
    std::uint32_t pid = 0x3FFFFC;
    while (isProcessIdRunning(pid)) pid -= 4;
    return pid;
}

struct Housekeeping : ::testing::Test {
    TestFolder sandbox{L"orvane_updater.log"};
    fs::path packageLocks = sandbox.work() / "package.nw" / "lockfiles";

    void SetUp() override { fs::create_directories(sandbox.records()); }
    // A slot's lockfile and the record naming it.
    fs::path slotLock(const std::string& record, int slot) {
        std::string folder = "UserData_";
        folder += std::to_string(slot);  // not operator+, which trips a false -Wrestrict in GCC 12
        const fs::path lock = sandbox.kesto() / folder / "lockfile";
        writeBytes(lock, "");
        writeBytes(sandbox.records() / record, lock.string());
        return lock;
    }
};

#ifndef _WIN32
bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Runs a shell script that writes `count` ids into "ids" in the current
// folder; gives them, fewer when the script wrote fewer in time.
std::vector<std::uint32_t> startScript(const std::string& script, std::size_t count) {
    std::vector<std::uint32_t> ids;
    if (!platform::startProcess(L"sh -c \"" + widenText(script) + L"\"")) return ids;
    waitFor([&] {
        ids.clear();
        std::ifstream in("ids");
        for (std::uint32_t id; in >> id;) ids.push_back(id);
        return ids.size() >= count;
    });
    return ids;
}

// The state letter the kernel shows for a process; '?' when it shows none.
char processState(std::uint32_t pid) {
    const std::string stat = readBytes("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
}
#endif

}  // namespace

TEST(ProcessList, OwnProcessAndTheIdleProcessRun) {
    EXPECT_TRUE(isProcessIdRunning(platform::currentProcessId()));
    EXPECT_TRUE(isProcessIdRunning(0));
    EXPECT_FALSE(isProcessIdRunning(endedProcessId()));
}

#ifndef _WIN32
TEST(ProcessList, AnEndedProcessNotYetCollectedIsNotRunning) {
    TestFolder sandbox{L"orvane_updater.log"};
    // The shell becomes a sleep that never collects the child it started;
    // only built-in commands run in between, so the shell collects nothing.
    const auto ids = startScript("sleep 0 & echo $! $$ > ids; exec sleep 30", 2);
    ASSERT_EQ(ids.size(), 2u);
    const std::uint32_t child = ids[0], parent = ids[1];
    ASSERT_TRUE(waitFor([&] { return processState(child) == 'Z'; }));
    EXPECT_FALSE(isProcessIdRunning(child));
    EXPECT_TRUE(isProcessIdRunning(parent));
    platform::terminateProcess(parent);
}

TEST(ProcessList, AClientWhoseExecutableWasReplacedIsStillFound) {
    if (isClientRunning()) GTEST_SKIP() << "a client runs outside this test";
    TestFolder sandbox{L"orvane_updater.log"};
    const fs::path client = sandbox.work() / "Orvane";
    fs::copy_file("/bin/sleep", client);
    const auto ids = startScript("echo $$ > ids; exec '" + client.string() + "' 30", 1);
    ASSERT_EQ(ids.size(), 1u);
    ASSERT_TRUE(waitFor(isClientRunning));
    fs::remove(client);
    writeBytes(client, "a newer version");
    EXPECT_TRUE(isClientRunning());
    // Ended, but not collected by its parent (this process): gone all the same.
    platform::terminateProcess(ids[0]);
    EXPECT_TRUE(waitFor([] { return !isClientRunning(); }));
}
#endif

TEST_F(Housekeeping, RecordsOfEndedProcessesGoWithTheFileTheyName) {
    const std::string ended = std::to_string(endedProcessId());
    const std::string own = std::to_string(platform::currentProcessId());
    const fs::path stale = slotLock(ended, 1);
    const fs::path live = slotLock(own, 2);
    // Read as the runtime reads numbers: blanks, a sign, trailing text.
    const fs::path stale2 = slotLock(" +" + ended + ".old", 3);
    // Only the low 32 bits count: 2^32 + own id is this process.
    const fs::path live2 = slotLock(std::to_string(4294967296ull + platform::currentProcessId()), 4);

    cleanStaleLocks();
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_FALSE(fs::exists(sandbox.records() / ended));
    EXPECT_FALSE(fs::exists(stale2));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(sandbox.records() / own));
    EXPECT_TRUE(fs::exists(live2));
    EXPECT_TRUE(fs::exists(stale.parent_path())) << "slot folders stay";
}

TEST_F(Housekeeping, NamesThatReadAsProcessZeroAreNeverRemoved) {
    const fs::path a = slotLock("abc", 1);
    const fs::path b = slotLock("-0", 2);
    const fs::path c = slotLock("4294967296", 3);
    writeBytes(sandbox.records() / ".hidden", a.string());
    cleanStaleLocks();
    for (const char* name : {"abc", "-0", "4294967296", ".hidden"}) EXPECT_TRUE(fs::exists(sandbox.records() / name));
    EXPECT_TRUE(fs::exists(a) && fs::exists(b) && fs::exists(c));
}

TEST_F(Housekeeping, BadRecordsAreSkippedWithoutTouchingAnythingElse) {
    const std::string ended = std::to_string(endedProcessId());
    const std::string ended2 = std::to_string(endedProcessId() - 4);
    const std::string ended3 = std::to_string(endedProcessId() - 8);
    const std::string ended4 = std::to_string(endedProcessId() - 12);
    const fs::path bystander = sandbox.work() / "bystander";
    writeBytes(bystander, "stays");

    // A folder named like a record: kept, with its content.
    writeBytes(sandbox.records() / ended / "inside", bystander.string());
    // An empty record, and one naming a folder.
    writeBytes(sandbox.records() / ended2, "");
    fs::create_directories(sandbox.work() / "folder" / "sub");
    writeBytes(sandbox.records() / ended3, (sandbox.work() / "folder").string());
    // The path ends at the first zero byte.
    const fs::path lock = sandbox.work() / "lock";
    writeBytes(lock, "");
    writeBytes(sandbox.records() / ended4, lock.string() + std::string(1, '\0') + bystander.string());

    cleanStaleLocks();
    EXPECT_TRUE(fs::exists(sandbox.records() / ended / "inside"));
    EXPECT_FALSE(fs::exists(sandbox.records() / ended2));
    EXPECT_FALSE(fs::exists(sandbox.records() / ended3));
    EXPECT_TRUE(fs::exists(sandbox.work() / "folder" / "sub"));
    EXPECT_FALSE(fs::exists(sandbox.records() / ended4));
    EXPECT_FALSE(fs::exists(lock));
    EXPECT_EQ(readBytes(bystander), "stays");
}

#ifndef _WIN32
TEST_F(Housekeeping, OnlyThe520BytesOfARecordAreRead) {
    const std::string ended = std::to_string(endedProcessId());
    const fs::path lock = sandbox.work() / "lock";
    writeBytes(lock, "");
    // Extra separators make the path exactly 520 bytes; what follows is ignored.
    std::string path = lock.string();
    path.insert(0, 520 - path.size(), '/');
    writeBytes(sandbox.records() / ended, path + "/more/than/read");
    cleanStaleLocks();
    EXPECT_FALSE(fs::exists(lock));
    EXPECT_FALSE(fs::exists(sandbox.records() / ended));
}

TEST_F(Housekeeping, LinksAreRemovedNeverFollowed) {
    const std::string ended = std::to_string(endedProcessId());
    const std::string ended2 = std::to_string(endedProcessId() - 4);
    const fs::path precious = sandbox.work() / "precious";
    writeBytes(precious, "stays");
    // A record naming a link: the link goes, its target stays.
    fs::create_symlink(precious, sandbox.work() / "lock-link");
    writeBytes(sandbox.records() / ended, (sandbox.work() / "lock-link").string());
    // A record that is a dangling link cannot be opened: only the link goes.
    fs::create_symlink(sandbox.work() / "nowhere", sandbox.records() / ended2);

    cleanStaleLocks();
    EXPECT_FALSE(fs::is_symlink(sandbox.work() / "lock-link"));
    EXPECT_FALSE(fs::is_symlink(sandbox.records() / ended2));
    EXPECT_EQ(readBytes(precious), "stays");
}

TEST_F(Housekeeping, UnreadableRecordIsDeletedAndItsFileLeft) {
    const std::string ended = std::to_string(endedProcessId());
    const fs::path lock = slotLock(ended, 1);
    fs::permissions(sandbox.records() / ended, fs::perms::none);
    if (std::ifstream(sandbox.records() / ended).is_open()) GTEST_SKIP() << "this user may read any file";
    cleanStaleLocks();
    EXPECT_FALSE(fs::exists(sandbox.records() / ended));
    EXPECT_TRUE(fs::exists(lock));
}

TEST_F(Housekeeping, PipeRecordNeverBlocksTheJob) {
    const std::string ended = std::to_string(endedProcessId());
    const fs::path record = sandbox.records() / ended;
    ASSERT_EQ(std::system(("mkfifo '" + record.string() + "'").c_str()), 0);
    cleanStaleLocks();  // would wait for a writer forever if the pipe were read
    EXPECT_FALSE(fs::exists(record));
}

TEST_F(Housekeeping, WithoutAppDataOnlyThePackageFolderIsLookedAt) {
    if (isClientRunning()) GTEST_SKIP() << "a client runs outside this test";
    fs::create_directories(packageLocks / "inner");
    sandbox.hideAppData();
    cleanStaleLocks();
    EXPECT_FALSE(fs::exists(packageLocks));
}
#endif

TEST_F(Housekeeping, PackageLockFolderGoesWhenNoClientRuns) {
    if (isClientRunning()) GTEST_SKIP() << "a client runs outside this test";
    writeBytes(packageLocks / "a" / "b", "x");
    writeBytes(sandbox.work() / "package.nw" / "package.json", "{}");
#ifndef _WIN32
    // A link inside to a folder outside: the link goes, never what it names.
    writeBytes(sandbox.work() / "outside" / "file", "stays");
    fs::create_directory_symlink(sandbox.work() / "outside", packageLocks / "link");
#endif
    cleanStaleLocks();
    EXPECT_FALSE(fs::exists(packageLocks));
    EXPECT_TRUE(fs::exists(sandbox.work() / "package.nw" / "package.json"));
#ifndef _WIN32
    EXPECT_EQ(readBytes(sandbox.work() / "outside" / "file"), "stays");
#endif
}

TEST_F(Housekeeping, MissingRecordFolderMeansNothingHappensAtAll) {
    fs::remove_all(sandbox.records());
    writeBytes(packageLocks / "a", "x");
    cleanStaleLocks();
    EXPECT_TRUE(fs::exists(packageLocks / "a"));
}

#ifndef _WIN32
// File names are UTF-8 whatever the locale: a locale without the characters
// must neither keep a stale lockfile nor hide a downloaded installer.
TEST_F(Housekeeping, NonAsciiFileNamesOutsideAUtf8Locale) {
    const char* previous = std::getenv("LC_ALL");
    const std::string kept = previous != nullptr ? previous : "";
    for (const char* locale : {"C", "POSIX", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        ::setenv("LC_ALL", locale, 1);
        const fs::path folder = sandbox.kesto() / u8"Ана Лопес 文件";
        const fs::path lock = folder / "lockfile";
        writeBytes(lock, "");
        const std::string ended = std::to_string(endedProcessId());
        writeBytes(sandbox.records() / ended, lock.string());
        cleanStaleLocks();
        EXPECT_FALSE(fs::exists(sandbox.records() / ended));
        EXPECT_FALSE(fs::exists(lock));

        // The path as the updater holds it, wide; no conversion by the locale.
        const std::wstring installer = widenFileName(folder.string()) + L"/1.3.0_kesto.exe";
        writeBytes(folder / "1.3.0_kesto.exe", "abc");
        EXPECT_EQ(md5FileHex(narrowFileName(installer)), "900150983cd24fb0d6963f7d28e17f72");
    }
    if (previous != nullptr) ::setenv("LC_ALL", kept.c_str(), 1);
    else ::unsetenv("LC_ALL");
}
#endif
