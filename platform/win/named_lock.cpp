#include "platform/named_lock.h"

#include <windows.h>

namespace platform {

std::unique_ptr<SingleInstanceGuard> SingleInstanceGuard::tryAcquire(const std::wstring& name, Outcome& outcome) {
    // Creating and testing for an existing owner in one call closes the race
    // of a separate open-then-create.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (mutex == nullptr) {
        // A mutex of another user's or integrity level exists all the same.
        outcome = error == ERROR_ACCESS_DENIED ? Outcome::HeldElsewhere : Outcome::Unavailable;
        return nullptr;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        outcome = Outcome::HeldElsewhere;
        return nullptr;
    }
    outcome = Outcome::Acquired;
    return std::unique_ptr<SingleInstanceGuard>(new SingleInstanceGuard(reinterpret_cast<std::intptr_t>(mutex)));
}

SingleInstanceGuard::~SingleInstanceGuard() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

}  // namespace platform

namespace platform {

NamedMutex::NamedMutex(const std::wstring& name)
    : handle_(reinterpret_cast<std::intptr_t>(CreateMutexW(nullptr, FALSE, name.c_str()))) {}

NamedMutex::~NamedMutex() {
    if (handle_ != 0) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

NamedMutex::Hold NamedMutex::lock(std::chrono::milliseconds timeout) {
    if (handle_ == 0) return Hold(Outcome::Unavailable, 0);
    const auto mutex = reinterpret_cast<HANDLE>(handle_);
    switch (WaitForSingleObject(mutex, static_cast<DWORD>(timeout.count()))) {
    case WAIT_OBJECT_0: return Hold(Outcome::Acquired, handle_);
    case WAIT_ABANDONED: return Hold(Outcome::Abandoned, handle_);
    case WAIT_TIMEOUT: return Hold(Outcome::TimedOut, 0);
    default: return Hold(Outcome::Unavailable, 0);
    }
}

NamedMutex::Hold::Hold(Hold&& other) noexcept : outcome_(other.outcome_), handle_(other.handle_) {
    other.outcome_ = Outcome::Unavailable;
    other.handle_ = 0;
}

NamedMutex::Hold::~Hold() {
    if (handle_ != 0) ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace platform
