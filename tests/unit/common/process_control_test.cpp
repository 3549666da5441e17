// Starting programs by bare name and ending them by executable name, with a
// stand-in program that records each start in "<name>.runs".
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "platform/process.h"
#include "common/process_control.h"
#include "tests/unit/support/test_folder.h"

using namespace common;

namespace {

const std::wstring kDouble = L"orvane_process_double";
const std::wstring kDoubleExe = kDouble + platform::kExeSuffix;

struct StartRecord {
    std::uint32_t pid = 0;
    std::string directory;
    std::vector<std::string> args;
};

std::vector<StartRecord> parseRuns(const std::string& text) {
    std::vector<StartRecord> runs;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            fields.push_back(line.substr(start, tab - start));
        fields.push_back(line.substr(start));
        StartRecord run;
        run.pid = static_cast<std::uint32_t>(std::stoul(fields[0]));
        run.directory = fields.size() > 1 ? fields[1] : "";
        run.args.assign(fields.begin() + std::min<std::size_t>(2, fields.size()), fields.end());
        runs.push_back(run);
    }
    return runs;
}

bool isRunning(std::uint32_t pid) {
    for (const auto& p : platform::listProcesses())
        if (p.pid == pid) return p.exeName == kDoubleExe;
    return false;
}

class ProcessControl : public ::testing::Test {
protected:
    void TearDown() override { killProcessesByName(kDoubleExe); }

    // Waits (bounded) until the stand-in has recorded `count` starts.
    std::vector<StartRecord> waitForRuns(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::vector<StartRecord> runs;
        while (std::chrono::steady_clock::now() < deadline) {
            runs = parseRuns(readBytes(folder.work() / (kDouble + L".runs")));
            if (runs.size() >= count) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return runs;
    }

    TestFolder folder;
};

TEST_F(ProcessControl, StartsABareNameFromBesideTheCallerWithItsArguments) {
    ASSERT_TRUE(runProcess(kDouble.c_str(), L"--user-data-dir=\"a b\\c\" second"));
    const auto runs = waitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].args, (std::vector<std::string>{"--user-data-dir=a b\\c", "second"}));
    // The caller's current directory is inherited.
    EXPECT_EQ(fs::path(runs[0].directory), fs::current_path());
    EXPECT_TRUE(isRunning(runs[0].pid));
}

TEST_F(ProcessControl, AbsentArgumentsStartTheProgramAlone) {
    ASSERT_TRUE(runProcess(kDouble.c_str(), nullptr));
    ASSERT_TRUE(runProcess(kDouble.c_str(), L""));
    const auto runs = waitForRuns(2);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_TRUE(runs[0].args.empty());
    EXPECT_TRUE(runs[1].args.empty());
}

TEST_F(ProcessControl, MissingProgramIsNotStarted) {
    EXPECT_FALSE(runProcess(L"orvane_no_such_program", L"x"));
    EXPECT_FALSE(runProcess(nullptr, nullptr));
}

TEST_F(ProcessControl, EndsEveryProcessOfTheExactName) {
    ASSERT_TRUE(runProcess(kDouble.c_str(), L"one"));
    ASSERT_TRUE(runProcess(kDouble.c_str(), L"two"));
    const auto runs = waitForRuns(2);
    ASSERT_EQ(runs.size(), 2u);

    // The name is compared whole and case-sensitively.
    EXPECT_FALSE(killProcessesByName(L"ORVANE_PROCESS_DOUBLE" + std::wstring(platform::kExeSuffix)));
    EXPECT_FALSE(killProcessesByName(L"orvane_process"));
    EXPECT_TRUE(isRunning(runs[0].pid));
    EXPECT_TRUE(isRunning(runs[1].pid));

    EXPECT_TRUE(killProcessesByName(kDoubleExe));
    // Termination is asynchronous on Windows; wait for it, bounded.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((isRunning(runs[0].pid) || isRunning(runs[1].pid)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(isRunning(runs[0].pid));
    EXPECT_FALSE(isRunning(runs[1].pid));

    EXPECT_FALSE(killProcessesByName(kDoubleExe)) << "nothing of that name is left";
}

}  // namespace
