// Text conversion between 8-bit code pages and the system's wide text
// (UTF-16 on Windows, UTF-32 on Linux), with the outcomes Windows gives when
// no error indication is asked for: an invalid UTF-8 sequence becomes U+FFFD,
// and a character the target code page cannot hold becomes its default
// character ("?").
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Code page numbers as Windows names them; kAnsiCodePage stands for the
// user's ANSI code page, whatever its number.
inline constexpr unsigned kAnsiCodePage = 0;
inline constexpr unsigned kUtf8CodePage = 65001;

// The number of the user's ANSI code page. On Linux it is the one Windows
// gives the language and territory of the locale named by LC_ALL, LC_CTYPE or
// LANG (zh_CN gives 936, zh_TW 950, ja 932, ko 949, most Western locales
// 1252), looked up afresh on every call; the locale need not be installed.
unsigned ansiCodePage();

// The ANSI code page Windows uses for a POSIX locale name such as
// "zh_CN.UTF-8" or "sr_RS@latin"; 1252 for names it does not know.
unsigned ansiCodePageForLocale(std::string_view locale);

// Both conversions take the whole input (an embedded zero is converted like
// any other character) and give an empty result when the code page is not
// available on the system.
std::wstring codePageToWide(unsigned codePage, std::string_view bytes);
std::string wideToCodePage(unsigned codePage, std::wstring_view text);

}  // namespace platform
