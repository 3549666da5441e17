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
    return std::unique_ptr<SingleInstanceGuard>(
        new SingleInstanceGuard(SystemHandle(reinterpret_cast<std::intptr_t>(mutex))));
}

}  // namespace platform

namespace platform {

NamedMutex::NamedMutex(const std::wstring& name)
    : handle_(reinterpret_cast<std::intptr_t>(CreateMutexW(nullptr, FALSE, name.c_str()))) {}

NamedMutex::~NamedMutex() {
    if (handle_ != 0) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

NamedMutex::Hold NamedMutex::lock(std::chrono::milliseconds timeout) {
    if (handle_ == 0) return Hold(Outcome::Unavailable);
    const auto mutex = reinterpret_cast<HANDLE>(handle_);
    switch (WaitForSingleObject(mutex, static_cast<DWORD>(timeout.count()))) {
    case WAIT_OBJECT_0: return Hold(Outcome::Acquired, handle_);
    case WAIT_ABANDONED: return Hold(Outcome::Abandoned, handle_);
    case WAIT_TIMEOUT: return Hold(Outcome::TimedOut);
    default: return Hold(Outcome::Unavailable);
    }
}

// The mutex stays open for its NamedMutex; only its ownership is let go.
void NamedMutex::Hold::Release::close(std::intptr_t handle) noexcept {
    ReleaseMutex(reinterpret_cast<HANDLE>(handle));
}

}  // namespace platform
