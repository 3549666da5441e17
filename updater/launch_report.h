// The one launch report of each updater process.
#pragma once

#include <string>

// The merchant id from ShopInfo.ini in the current directory ("reportinfo" /
// "urlvalue" without its first eight characters); empty when there is none.
std::string readMerchantId();
// Sends the launch report once, when a merchant is named.
void sendLaunchReport();
