// The add-on's one place for text conversion: the script speaks UTF-8,
// printers and the spooler the system's ANSI code page. Every conversion goes
// through wide text, takes its input up to the first zero byte (or unit), and
// never fails: an empty or unconvertible input gives an empty result, invalid
// UTF-8 becomes U+FFFD, and a character the ANSI code page cannot hold
// becomes its default character.
#pragma once

#include <string>
#include <string_view>

namespace binding {

std::wstring utf8ToWide(std::string_view text);
std::string wideToUtf8(std::wstring_view text);
std::wstring ansiToWide(std::string_view text);
std::string wideToAnsi(std::wstring_view text);

std::string utf8ToAnsi(std::string_view text);
std::string ansiToUtf8(std::string_view text);

}  // namespace binding
