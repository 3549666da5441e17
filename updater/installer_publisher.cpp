#include "updater/installer_publisher.h"

#include <cstdio>
#include <string>

#include "platform/files.h"
#include "common/log.h"
#include "common/process_control.h"
#include "updater/update_check.h"

namespace updater {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::wstring refusalReason(const platform::SignatureCheck& check) {
    switch (check.verdict) {
    case platform::SignatureVerdict::NotSigned: return L"not signed";
    case platform::SignatureVerdict::BadDigest: return L"bad digest";
    case platform::SignatureVerdict::OtherPublisher: return L"other publisher";
    case platform::SignatureVerdict::Pinned: break;
    case platform::SignatureVerdict::Untrusted: {
        if (check.systemCode == 0) return L"untrusted signature";
        std::wstring text(32, L'\0');
        text.resize(static_cast<std::size_t>(std::swprintf(text.data(), text.size(), L"untrusted signature 0x%08lX",
                                                           static_cast<unsigned long>(check.systemCode))));
        return text;
    }
    }
    return {};
}

}  // namespace

std::vector<platform::PublicKeyHash> parsePublisherPins(std::string_view text) {
    std::vector<platform::PublicKeyHash> pins;
    while (!text.empty()) {
        const auto end = text.find(',');
        const std::string_view item = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        platform::PublicKeyHash hash{};
        if (item.size() != 2 * hash.size()) continue;
        bool readable = true;
        for (std::size_t i = 0; i < hash.size() && readable; ++i) {
            const int high = hexValue(item[2 * i]);
            const int low = hexValue(item[2 * i + 1]);
            readable = high >= 0 && low >= 0;
            hash[i] = static_cast<std::uint8_t>(high << 4 | low);
        }
        if (readable) pins.push_back(hash);
    }
    return pins;
}

InstallerPermit InstallerPermit::check(const std::wstring& installer) {
    InstallerPermit permit;
    permit.installer_ = installer;
    const std::string_view configured = installerPublisherPins();
    if (configured.empty()) {
        permit.granted_ = true;
        return permit;
    }
    permit.pinned_ = true;
    permit.held_ = platform::HeldInstaller::open(installer);
    const platform::SignatureCheck check = permit.held_.isOpen()
        ? permit.held_.verify(parsePublisherPins(configured))
        : platform::SignatureCheck{platform::SignatureVerdict::NotSigned, 0};
    permit.granted_ = check.verdict == platform::SignatureVerdict::Pinned;
    if (!permit.granted_) {
        common::appendLog(L"\r\n installer refused:");
        common::appendLog(permit.held_.isOpen() ? refusalReason(check) : L"not readable");
    }
    return permit;
}

bool InstallerPermit::start() {
    if (!granted_) return false;
    const std::wstring program = quotedProgramName(installer_);
    if (pinned_) return held_.start(program + L" ");
    platform::allowOwnerExecute(installer_);
    return common::runProcess(program.c_str(), L"");
}

}  // namespace updater
