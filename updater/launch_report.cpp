#include "updater/launch_report.h"

#include <ctime>
#include <exception>

#include "updater/endpoints.h"
#include "platform/files.h"
#include "updater/http_client.h"
#include "updater/identity.h"
#include "platform/profile.h"
#include "common/text.h"
#include "common/version.h"

namespace updater {

namespace {

// A blank, "&" or "#" in a value would otherwise end the request line, start
// another key or cut the query short.
std::string percentEncode(std::string_view value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : value) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 0x0F];
        }
    }
    return out;
}

}  // namespace

std::string readMerchantId() {
    std::wstring path = platform::currentDirectory();
    if (!platform::pathAppend(path, L"ShopInfo.ini") || !platform::pathExists(path)) return {};
    const std::string value = common::narrowText(platform::readProfileString(path, L"reportinfo", L"urlvalue", L"", 64));
    return value.size() > 8 ? value.substr(8) : std::string();
}

std::string launchReportUrl(std::string_view host, std::string_view deviceId, std::string_view merchantId,
                            std::int64_t secondsSince1970) {
    std::string url = "http://";
    url += host;
    url += "/kesto.kesto-windowsLauncher.orvane_tillbox_launch?";
    url += "version=" + percentEncode(common::kOrvaneVersionA);
    url += "&deviceId=" + percentEncode(deviceId);
    url += "&merchant_id=" + percentEncode(merchantId);
    url += "&t=" + std::to_string(secondsSince1970);
    return url;
}

void sendLaunchReport() {
    const std::string merchantId = readMerchantId();
    if (merchantId.empty()) return;
    const std::string url = launchReportUrl(reportHost(), readDeviceId(), merchantId, std::time(nullptr));
    try {
        httpGet(url);
    } catch (const std::exception&) {
        // Report failures of every kind are ignored.
    }
}

}  // namespace updater
