// Conversions between the programs' wide text and the ANSI code page of the
// user's locale, through the C runtime's locale conversion.
#pragma once

#include <string>
#include <string_view>

std::string narrowText(std::wstring_view text);
std::wstring widenText(std::string_view text);
