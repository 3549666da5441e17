// The log file as several processes write it: line ends, the missing log
// folder, whole lines from concurrent writers, and writers that die or hang
// while holding the lock. Each test installs the helper program
// orvane_log_writer in a folder of its own, so its log lies there.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/named_lock.h"
#include "platform/process.h"
#include "tests/unit/support/test_folder.h"

namespace {

using namespace std::chrono_literals;

const std::string kStamp = R"(\[[ 0-9]{2}-[ 0-9]{2} [ 0-9]{2}:[ 0-9]{2}:[ 0-9]{2}_[ 0-9]{3}\]\[default\])";

#ifdef _WIN32
// Processes start slowly under Wine; fewer lines show the same.
constexpr int kProcesses = 2, kThreads = 2, kLines = 15;
#else
constexpr int kProcesses = 4, kThreads = 2, kLines = 200;
#endif

class LogProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_FOLDER();
        folder_ = std::make_unique<TestFolder>();
#ifndef _WIN32
        // The lock file lives in the user's runtime folder; each test gets its own.
        fs::create_directories(folder_->root() / "runtime");
        ::setenv("XDG_RUNTIME_DIR", (folder_->root() / "runtime").c_str(), 1);
#endif
    }

    // Copies the helper into a new folder, with or without its log folder.
    fs::path install(const std::string& name, bool withLogFolder) {
        const fs::path source = fs::path(platform::executablePath()).parent_path() /
                                (std::wstring(L"orvane_log_writer") + platform::kExeSuffix);
        const fs::path dir = folder_->root() / name;
        fs::create_directories(dir);
        if (withLogFolder) fs::create_directories(dir / "log");
        const fs::path exe = dir / source.filename();
        fs::copy_file(source, exe);
        return exe;
    }

    static fs::path logOf(const fs::path& exe) { return exe.parent_path() / "log" / "kesto.log"; }

    std::unique_ptr<TestFolder> folder_;
};

int run(const fs::path& exe, const std::string& args) {
#ifdef _WIN32
    const std::string command = "\"\"" + exe.string() + "\" " + args + "\"";
#else
    const std::string command = "'" + exe.string() + "' " + args;
#endif
    return std::system(command.c_str());
}

// The file's lines; a file that does not end with CR LF gives an extra line.
std::vector<std::string> linesOf(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(content.substr(start, end - start));
    if (start != content.size()) lines.push_back(content.substr(start));
    return lines;
}

// Checks that every line is a whole line of the "write" mode and that each
// writer thread's lines are all there, in order. Gives the number of lines.
std::size_t expectWholeLines(const std::string& content, std::size_t expectedPerThread) {
    const std::regex whole(kStamp + "writer ([A-Z]) thread ([0-9]+) line ([0-9]+) ={120}");
    std::map<std::string, std::size_t> next;
    const auto lines = linesOf(content);
    for (const auto& line : lines) {
        std::smatch match;
        if (!std::regex_match(line, match, whole)) {
            ADD_FAILURE() << "torn or foreign line: " << line;
            continue;
        }
        const std::string writer = match[1].str() + match[2].str();
        EXPECT_EQ(std::stoul(match[3].str()), next[writer]) << line;
        next[writer] = std::stoul(match[3].str()) + 1;
    }
    for (const auto& [writer, count] : next) EXPECT_EQ(count, expectedPerThread) << writer;
    return lines.size();
}

// A helper process holding the log lock until it is ended.
class LockHolder {
public:
    explicit LockHolder(const fs::path& exe) : ready_(exe.parent_path() / "holding") {
        runner_ = std::thread([exe, this] { run(exe, "hold \"" + ready_.string() + "\""); });
        const auto deadline = std::chrono::steady_clock::now() + 5min;
        while (!fs::exists(ready_) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
        if (fs::exists(ready_)) pid_ = static_cast<std::uint32_t>(std::stoul(readBytes(ready_)));
    }
    ~LockHolder() {
        kill();
        runner_.join();
    }
    bool holding() const { return pid_ != 0; }
    void kill() {
        if (pid_ != 0) platform::terminateProcess(pid_);
        pid_ = 0;
    }

private:
    fs::path ready_;
    std::thread runner_;
    std::uint32_t pid_ = 0;
};

TEST_F(LogProcesses, LinesEndWithCrLfAndLineFeedsInTheMessageToo) {
    const fs::path exe = install("app", true);
    ASSERT_EQ(run(exe, "text \"100% sure\\nsecond\""), 0);
    ASSERT_EQ(run(exe, "write 1 2 A"), 0);
    const std::string content = readBytes(logOf(exe));
    const auto lines = linesOf(content);
    ASSERT_EQ(lines.size(), 4u) << content;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(kStamp + "100% sure"))) << lines[0];
    EXPECT_EQ(lines[1], "second");
    EXPECT_EQ(static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')), lines.size());
    EXPECT_EQ(expectWholeLines(content.substr(content.find("second\r\n") + 8), 2), 2u);
}

TEST_F(LogProcesses, WithoutTheLogFolderNothingIsCreated) {
    const fs::path exe = install("app", false);
    ASSERT_EQ(run(exe, "write 1 3 A"), 0);
    std::vector<fs::path> entries;
    for (const auto& entry : fs::recursive_directory_iterator(exe.parent_path())) entries.push_back(entry.path());
    EXPECT_EQ(entries, std::vector<fs::path>{exe});
}

TEST_F(LogProcesses, ConcurrentProcessesAndThreadsWriteOnlyWholeLines) {
    const fs::path exe = install("app", true);
    std::vector<std::thread> processes;
    std::vector<int> results(kProcesses, -1);
    for (int p = 0; p < kProcesses; ++p) {
        const std::string args = "write " + std::to_string(kThreads) + " " + std::to_string(kLines) + " " +
                                 std::string(1, static_cast<char>('A' + p));
        processes.emplace_back([&, p, args] { results[p] = run(exe, args); });
    }
    for (auto& process : processes) process.join();
    EXPECT_EQ(results, std::vector<int>(kProcesses, 0));
    EXPECT_EQ(expectWholeLines(readBytes(logOf(exe)), kLines), std::size_t(kProcesses * kThreads * kLines));
}

TEST_F(LogProcesses, AWriterKilledWhileHoldingTheLockDoesNotStopTheOthers) {
    const fs::path exe = install("app", true);
    LockHolder holder(exe);
    ASSERT_TRUE(holder.holding());
    {
        // Opened before the kill, as by a writer waiting its turn: a named
        // mutex whose last handle goes with its owner is gone, not abandoned.
        platform::NamedMutex lock(L"XDUPLOG");
        holder.kill();
        // The system hands the lock on; the bound here only keeps a broken
        // lock from hanging the test.
        const auto hold = lock.lock(2min);
        EXPECT_TRUE(hold.owns());
#ifdef _WIN32
        EXPECT_EQ(hold.outcome(), platform::NamedMutex::Outcome::Abandoned);
#endif
    }
    ASSERT_EQ(run(exe, "write 2 5 K"), 0);
    EXPECT_EQ(expectWholeLines(readBytes(logOf(exe)), 5), 10u);
}

TEST_F(LogProcesses, AHangingHolderDelaysLinesButDoesNotLoseThem) {
    const fs::path exe = install("app", true);
    LockHolder holder(exe);
    ASSERT_TRUE(holder.holding());
    {
        platform::NamedMutex lock(L"XDUPLOG");
        EXPECT_EQ(lock.lock(100ms).outcome(), platform::NamedMutex::Outcome::TimedOut);
    }
    ASSERT_EQ(run(exe, "write 1 2 H"), 0);
    EXPECT_EQ(expectWholeLines(readBytes(logOf(exe)), 2), 2u);
}

}  // namespace
