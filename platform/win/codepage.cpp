#include "platform/codepage.h"

#include <windows.h>

#include <climits>

namespace platform {

unsigned ansiCodePage() { return GetACP(); }

std::wstring codePageToWide(unsigned codePage, std::string_view bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX) return {};
    const int length = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0) return {};
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    const int made = MultiByteToWideChar(codePage, 0, bytes.data(), length, out.data(), needed);
    out.resize(made > 0 ? static_cast<std::size_t>(made) : 0);
    return out;
}

std::string wideToCodePage(unsigned codePage, std::wstring_view text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int length = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string out(static_cast<std::size_t>(needed), '\0');
    const int made = WideCharToMultiByte(codePage, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
    out.resize(made > 0 ? static_cast<std::size_t>(made) : 0);
    return out;
}

}  // namespace platform
