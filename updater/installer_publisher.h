// Which installers the updater starts: with pinned publisher keys built in,
// only those whose signature is valid and made with one of them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/installer_signature.h"

namespace updater {

// The pinned keys as the build passes them in: 64 hexadecimal digits each,
// separated by commas; empty when the build pins none.
const char* installerPublisherPins();

// Unreadable items are left out; the build accepts none.
std::vector<platform::PublicKeyHash> parsePublisherPins(std::string_view text);

// The permission to start one downloaded installer, taken after its digest
// has matched and before anything is ended.
class InstallerPermit {
public:
    // Without pinned keys every installer is permitted, as it always was.
    // With them the file is held and its signature checked; a refusal is
    // logged in one line that says why.
    static InstallerPermit check(const std::wstring& installer);

    bool granted() const { return granted_; }
    // Starts the installer with no arguments: the file that was checked.
    bool start();

private:
    std::wstring installer_;
    bool granted_ = false;
    bool pinned_ = false;
    platform::HeldInstaller held_;
};

}  // namespace updater
