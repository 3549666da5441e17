// Named locks shared between the processes of one user.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace platform {

// Marks that one instance of a program runs. Taking it and testing for an
// existing owner are one step, so two instances started at the same instant
// cannot both pass. The system drops the mark when its owner ends.
class SingleInstanceGuard {
public:
    // nullptr when another process holds the guard.
    static std::unique_ptr<SingleInstanceGuard> tryAcquire(const std::wstring& name);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

private:
    explicit SingleInstanceGuard(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

}  // namespace platform
