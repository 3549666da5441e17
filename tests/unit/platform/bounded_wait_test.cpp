// The wait behind every device write on Windows ends, whatever the waits and
// cancellations the system answers with.
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "platform/bounded_wait.h"

namespace {

using platform::WaitOutcome;
using std::chrono::milliseconds;

constexpr int kRounds = 3;

struct WaitCase {
    const char* name;
    std::vector<WaitOutcome> answers;  // what the system answers, wait by wait
    bool ended;
    int cancels;
};

const WaitCase kWaitCases[] = {
    {"EndsInTime", {WaitOutcome::Done}, true, 0},
    {"EndsOnceCancelled", {WaitOutcome::TimedOut, WaitOutcome::Done}, true, 1},
    {"EndsAfterALaterCancel", {WaitOutcome::TimedOut, WaitOutcome::TimedOut, WaitOutcome::Done}, true, 2},
    {"WaitFails", {WaitOutcome::Failed}, false, 1},
    {"WaitFailsAfterCancel", {WaitOutcome::TimedOut, WaitOutcome::Failed}, false, 2},
    {"CancelNeverTakes", std::vector<WaitOutcome>(kRounds + 1, WaitOutcome::TimedOut), false, kRounds},
};

void PrintTo(const WaitCase& c, std::ostream* out) { *out << c.name; }

class BoundedWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(BoundedWait, EndsWithTheOperationOrGivesItUp) {
    const WaitCase& c = GetParam();
    std::size_t waits = 0;
    int cancels = 0;
    std::vector<milliseconds> limits;
    const bool ended = platform::awaitOperation(
        [&](milliseconds limit) {
            limits.push_back(limit);
            // A wait beyond the answers is a wait that would not have ended.
            if (waits == c.answers.size()) {
                ADD_FAILURE() << "waited again after " << waits << " waits";
                return WaitOutcome::Done;
            }
            return c.answers[waits++];
        },
        [&] { ++cancels; }, milliseconds(10000), milliseconds(100), kRounds);
    EXPECT_EQ(ended, c.ended);
    EXPECT_EQ(cancels, c.cancels);
    EXPECT_EQ(waits, c.answers.size());
    ASSERT_FALSE(limits.empty());
    EXPECT_EQ(limits[0], milliseconds(10000));
    for (std::size_t i = 1; i < limits.size(); ++i) EXPECT_EQ(limits[i], milliseconds(100));
}

INSTANTIATE_TEST_SUITE_P(Table, BoundedWait, ::testing::ValuesIn(kWaitCases),
                         [](const auto& c) { return std::string(c.param.name); });

}  // namespace
