// The one launch report of each updater process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace updater {

// The merchant id from ShopInfo.ini in the current directory ("reportinfo" /
// "urlvalue" without its first eight characters); empty when there is none.
std::string readMerchantId();

// The report's address: version, device id, merchant id and time, in this
// order, each value percent-encoded (letters, digits and "-._~" stay as they are).
std::string launchReportUrl(std::string_view host, std::string_view deviceId, std::string_view merchantId,
                            std::int64_t secondsSince1970);

// Sends the launch report once, when a merchant is named; the answer is not looked at.
void sendLaunchReport();

}  // namespace updater
