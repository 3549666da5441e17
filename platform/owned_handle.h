// The owner of one system handle: moved, never copied, closed exactly once.
// Handles cross the seam as integers, so no header here needs the system's.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace platform {

// `Traits` names `invalid`, the value that owns nothing, and a static
// `close(value)` that lets go of any other value.
template <class Traits>
class OwnedHandle {
public:
    using Value = std::remove_cv_t<decltype(Traits::invalid)>;

    OwnedHandle() = default;
    explicit OwnedHandle(Value value) noexcept : value_(value) {}
    OwnedHandle(OwnedHandle&& other) noexcept : value_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { reset(); }

    Value get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::invalid; }
    explicit operator bool() const noexcept { return valid(); }

    // Hands the value on unclosed; this owner then owns nothing.
    [[nodiscard]] Value release() noexcept { return std::exchange(value_, Traits::invalid); }
    // Closes what is owned, then owns `value`.
    void reset(Value value = Traits::invalid) noexcept {
        const Value old = std::exchange(value_, value);
        if (old != Traits::invalid) Traits::close(old);
    }

private:
    Value value_ = Traits::invalid;
};

// A file descriptor, or a Windows HANDLE of a kernel object (-1 is also
// INVALID_HANDLE_VALUE); closed with close() or CloseHandle().
struct SystemHandleTraits {
    static constexpr std::intptr_t invalid = -1;
    static void close(std::intptr_t handle) noexcept;
};
using SystemHandle = OwnedHandle<SystemHandleTraits>;

}  // namespace platform
