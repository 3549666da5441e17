#include "named_lock.h"

#include <windows.h>

namespace platform {

std::unique_ptr<SingleInstanceGuard> SingleInstanceGuard::tryAcquire(const std::wstring& name) {
    // Creating and testing for an existing owner in one call closes the race
    // of a separate open-then-create.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) return nullptr;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return nullptr;
    }
    return std::unique_ptr<SingleInstanceGuard>(new SingleInstanceGuard(reinterpret_cast<std::intptr_t>(mutex)));
}

SingleInstanceGuard::~SingleInstanceGuard() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

}  // namespace platform
