#include "common/log.h"

#include <cwchar>

#include "platform/files.h"
#include "common/text.h"

namespace common {

namespace {
std::wstring& logFileName() {
    static std::wstring name;
    return name;
}
}  // namespace

void setLogFileName(std::wstring name) { logFileName() = std::move(name); }

void appendLog(std::wstring_view text) {
    if (logFileName().empty()) return;
    const std::string bytes = narrowText(text);
    platform::appendToFile(logFileName(), bytes.data(), bytes.size());
}

std::wstring formatErrorLine(std::wstring_view message, long code) {
    return L"\r\n" + std::wstring(message) + L":" + std::to_wstring(code) + L"\r\n";
}

}  // namespace common
