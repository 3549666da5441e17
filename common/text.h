// Conversions between the programs' wide text and the ANSI code page of the
// user's locale, through the C runtime's locale conversion.
#pragma once

#include <string>
#include <string_view>

namespace common {

std::string narrowText(std::wstring_view text);
std::wstring widenText(std::string_view text);

// File names as narrow text: the same conversions where the system keeps
// names in the locale's code page, UTF-8 where it keeps them in UTF-8. Both
// end at the first zero.
std::string narrowFileName(std::wstring_view name);
std::wstring widenFileName(std::string_view name);

}  // namespace common
