// Named locks shared between the processes of one user.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/owned_handle.h"

namespace platform {

// Marks that one instance of a program runs. Taking it and testing for an
// existing owner are one step, so two instances started at the same instant
// cannot both pass. The system drops the mark when its owner ends.
class SingleInstanceGuard {
public:
    enum class Outcome {
        Acquired,
        HeldElsewhere,  // another instance holds it
        Unavailable,    // it could not be made at all
    };
    // The guard when `outcome` is Acquired, else nullptr.
    static std::unique_ptr<SingleInstanceGuard> tryAcquire(const std::wstring& name, Outcome& outcome);
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

private:
    explicit SingleInstanceGuard(SystemHandle handle) : handle_(std::move(handle)) {}
    SystemHandle handle_;
};

// A lock that serialises threads and processes of one user under one name.
// The system releases it when its holder ends, however it ends, and a waiter
// gives up after a bounded time, so a holder that hangs cannot stop the rest.
class NamedMutex {
public:
    enum class Outcome {
        Acquired,
        Abandoned,    // acquired; the previous holder ended while holding it (only Windows tells)
        TimedOut,
        Unavailable,  // the lock could not be opened or created
    };

    // Holds the lock, when its outcome says so, until destroyed; it must be
    // destroyed on the thread that took it, before its NamedMutex.
    class Hold {
    public:
        Hold(Hold&& other) noexcept
            : outcome_(std::exchange(other.outcome_, Outcome::Unavailable)), handle_(std::move(other.handle_)) {}
        Hold& operator=(Hold&&) = delete;
        Hold(const Hold&) = delete;
        Outcome outcome() const { return outcome_; }
        bool owns() const { return outcome_ == Outcome::Acquired || outcome_ == Outcome::Abandoned; }

    private:
        friend class NamedMutex;
        // What a hold lets go of: the lock file's descriptor, whose closing
        // drops the lock, or the mutex, which is released (and stays open).
        struct Release {
            static constexpr std::intptr_t invalid = -1;
            static void close(std::intptr_t handle) noexcept;
        };
        explicit Hold(Outcome outcome, std::intptr_t handle = Release::invalid) : outcome_(outcome), handle_(handle) {}
        Outcome outcome_;
        OwnedHandle<Release> handle_;
    };

    explicit NamedMutex(const std::wstring& name);
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;
    ~NamedMutex();

    Hold lock(std::chrono::milliseconds timeout);

private:
    std::intptr_t handle_ = 0;  // the system's mutex, where there is one
    std::string path_;          // the lock file, where the lock is a file lock
};

}  // namespace platform
