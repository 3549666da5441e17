// CODE128 as a printer builds it from the data of GS k 73: the data begins
// with a code-set selector "{A", "{B" or "{C"; further "{" pairs switch sets
// ("{A" "{B" "{C"), shift one character ("{S"), send FNC1-4 ("{1".."{4") or
// stand for "{" itself ("{{"). In code set C every data byte is one value
// 0-99.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace receipt_view {

struct Code128 {
    std::vector<int> modules;  // widths, bar first, alternating bar and space
    int moduleCount = 0;       // their sum
    std::string humanReadable;
    std::string error;         // why the data is no symbol; empty when it is one
};

Code128 buildCode128(std::string_view data);

}  // namespace receipt_view
