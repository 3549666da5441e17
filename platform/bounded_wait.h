// Waiting for an operation that the system finishes in its own time (an
// overlapped device write) so that the wait always ends: when the operation
// takes too long, when its cancellation does not take, and when the wait
// itself fails.
#pragma once

#include <chrono>

namespace platform {

enum class WaitOutcome { Done, TimedOut, Failed };

// `wait(limit)` waits at most `limit` for the operation to end. Once `timeout`
// has passed, the operation is cancelled with `cancel()` and its end awaited
// in up to `cancelRounds` waits of `slice`, cancelled again before each (a
// cancel can come too early to take). True when the operation was seen to
// end, so its buffers may go; false when it was not: the wait failed (after
// one more cancel), or the cancellation took no effect in time.
template <typename Wait, typename Cancel>
bool awaitOperation(Wait&& wait, Cancel&& cancel, std::chrono::milliseconds timeout, std::chrono::milliseconds slice,
                    int cancelRounds) {
    WaitOutcome outcome = wait(timeout);
    for (int round = 0; outcome == WaitOutcome::TimedOut && round < cancelRounds; ++round) {
        cancel();
        outcome = wait(slice);
    }
    if (outcome == WaitOutcome::Failed) cancel();
    return outcome == WaitOutcome::Done;
}

}  // namespace platform
