#include "updater/crash_dumps.h"

#include <ctime>
#include <string>

#include "platform/files.h"
#include "updater/identity.h"
#include "common/log.h"
#include "updater/md5.h"
#include "common/text.h"

namespace updater {

namespace {

// The name a dump is to be reported under: the machine's digest and the
// time in whole seconds since 1970.
std::string reportName() {
    return md5Hex(macAddressList()) + "_" + std::to_string(static_cast<long long>(std::time(nullptr)));
}

}  // namespace

void scanCrashDumps() {
    auto folder = platform::localAppDataFolder();
    if (!folder) {
        common::appendLog(L"\r\nGET APPDATA DIR FILAED");
        return;
    }
    if (!platform::pathAppend(*folder, L"Crashpad") || !platform::pathAppend(*folder, L"reports")) return;
    const auto entries = platform::listDirectory(*folder, L"*.dmp");
    if (!entries) return;
    for (const auto& entry : *entries) {
        if (entry.name.starts_with(L'.')) continue;
        common::appendLog(L"\r\nsend dump file:");
        common::appendLog(*folder + platform::kPathSeparator + entry.name);
        common::appendLog(common::widenText(reportName()));
    }
}

}  // namespace updater
