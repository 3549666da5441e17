#include "launch_report.h"

#include "files.h"
#include "profile.h"
#include "text.h"

std::string readMerchantId() {
    std::wstring path = platform::currentDirectory();
    if (!platform::pathAppend(path, L"ShopInfo.ini") || !platform::pathExists(path)) return {};
    const std::string value = narrowText(platform::readProfileString(path, L"reportinfo", L"urlvalue", L"", 64));
    return value.size() > 8 ? value.substr(8) : std::string();
}

// Sending needs the HTTP client, which is not part of the build yet; with no
// merchant named nothing is sent in any case.
void sendLaunchReport() { (void)readMerchantId(); }
