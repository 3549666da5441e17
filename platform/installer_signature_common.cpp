#include "platform/installer_signature.h"

#include <utility>

namespace platform {

HeldInstaller::HeldInstaller(HeldInstaller&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)), size_(other.size_), modified_(other.modified_) {
    other.handle_ = kInvalid;
}

HeldInstaller& HeldInstaller::operator=(HeldInstaller&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        size_ = other.size_;
        modified_ = other.modified_;
        other.handle_ = kInvalid;
    }
    return *this;
}

HeldInstaller::~HeldInstaller() { close(); }

}  // namespace platform
