#include "common/text.h"

#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"

namespace common {

namespace {

void useUserLocale() { std::setlocale(LC_CTYPE, ""); }

}  // namespace

std::string narrowText(std::wstring_view text) {
    useUserLocale();
    std::string out;
    out.reserve(text.size());
    std::mbstate_t state{};
    std::vector<char> bytes(MB_CUR_MAX + 1);
    for (wchar_t wc : text) {
        if (wc == L'\0') break;  // the text ends at its terminating zero
        const std::size_t n = std::wcrtomb(bytes.data(), wc, &state);
        if (n == static_cast<std::size_t>(-1)) {
            // Not representable in the user's code page.
            out += '?';
            state = std::mbstate_t{};
            continue;
        }
        out.append(bytes.data(), n);
    }
    return out;
}

std::wstring widenText(std::string_view text) {
    useUserLocale();
    std::wstring out;
    out.reserve(text.size());
    std::mbstate_t state{};
    std::size_t i = 0;
    while (i < text.size() && text[i] != '\0') {
        wchar_t wc = 0;
        const std::size_t n = std::mbrtowc(&wc, text.data() + i, text.size() - i, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            out += L'?';
            state = std::mbstate_t{};
            ++i;
            continue;
        }
        if (n == 0) break;
        out += wc;
        i += n;
    }
    return out;
}

std::string narrowFileName(std::wstring_view name) {
    if constexpr (!platform::kUtf8FileNames) return narrowText(name);
    return platform::wideToCodePage(platform::kUtf8CodePage, name.substr(0, name.find(L'\0')));
}

std::wstring widenFileName(std::string_view name) {
    if constexpr (!platform::kUtf8FileNames) return widenText(name);
    return platform::codePageToWide(platform::kUtf8CodePage, name.substr(0, name.find('\0')));
}

}  // namespace common
