#include "binding/conversions.h"

#include "platform/codepage.h"

namespace binding {

namespace {

template <typename Char>
std::basic_string_view<Char> upToZero(std::basic_string_view<Char> text) {
    return text.substr(0, text.find(Char{}));
}

}  // namespace

std::wstring utf8ToWide(std::string_view text) {
    return platform::codePageToWide(platform::kUtf8CodePage, upToZero(text));
}

std::string wideToUtf8(std::wstring_view text) {
    return platform::wideToCodePage(platform::kUtf8CodePage, upToZero(text));
}

std::wstring ansiToWide(std::string_view text) {
    return platform::codePageToWide(platform::kAnsiCodePage, upToZero(text));
}

std::string wideToAnsi(std::wstring_view text) {
    return platform::wideToCodePage(platform::kAnsiCodePage, upToZero(text));
}

std::string utf8ToAnsi(std::string_view text) { return wideToAnsi(utf8ToWide(text)); }

std::string ansiToUtf8(std::string_view text) { return wideToUtf8(ansiToWide(text)); }

}  // namespace binding
