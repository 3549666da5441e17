#include "receipt_view/code128.h"

#include <array>
#include <cstdio>

namespace receipt_view {

namespace {

// Bar and space widths of the symbol values 0-105 (ISO/IEC 15417); the stop
// pattern has seven elements.
constexpr std::array<const char*, 106> kPatterns = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212", "221213",
    "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221", "223211", "221132",
    "221231", "213212", "223112", "312131", "311222", "321122", "321221", "312212", "322112", "322211",
    "212123", "212321", "232121", "111323", "131123", "131321", "112313", "132113", "132311", "211313",
    "231113", "231311", "112133", "112331", "132131", "113123", "113321", "133121", "313121", "211331",
    "231131", "213113", "213311", "213131", "311123", "311321", "331121", "312113", "312311", "332111",
    "314111", "221411", "431111", "111224", "111422", "121124", "121421", "141122", "141221", "112214",
    "112412", "122114", "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111",
    "111242", "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311", "113141",
    "114131", "311141", "411131", "211412", "211214", "211232"};
constexpr const char* kStop = "2331112";

enum Set { A, B, C };
constexpr int kShift = 98, kToC = 99, kToB = 100, kToA = 101, kFnc1 = 102, kFnc2 = 97, kFnc3 = 96;
constexpr int kStart[] = {103, 104, 105};

// The value of a data byte in code set A or B, or -1 when the set has none.
int valueIn(Set set, unsigned char byte) {
    if (set == A) {
        if (byte < 0x20) return byte + 64;
        if (byte < 0x60) return byte - 32;
        return -1;
    }
    return byte >= 0x20 && byte < 0x80 ? byte - 32 : -1;
}

}  // namespace

Code128 buildCode128(std::string_view data) {
    Code128 out;
    const auto fail = [&](std::size_t at, const char* why) {
        char text[96];
        std::snprintf(text, sizeof text, "CODE128 data byte %zu: %s", at, why);
        out.error = text;
        return out;
    };
    if (data.size() < 2 || data[0] != '{' || (data[1] != 'A' && data[1] != 'B' && data[1] != 'C'))
        return fail(0, "the data does not begin with a code set selector {A, {B or {C");
    Set set = static_cast<Set>(data[1] - 'A');
    std::vector<int> values{kStart[set]};
    for (std::size_t i = 2; i < data.size();) {
        const auto byte = static_cast<unsigned char>(data[i]);
        if (byte == '{') {
            if (i + 1 >= data.size()) return fail(i, "\"{\" ends the data");
            const char next = data[i + 1];
            const bool inC = set == C;
            if (next == 'A' && set != A) values.push_back(kToA), set = A;
            else if (next == 'B' && set != B) values.push_back(kToB), set = B;
            else if (next == 'C' && set != C) values.push_back(kToC), set = C;
            else if (next == '1') values.push_back(kFnc1);
            else if (next == '2' && !inC) values.push_back(kFnc2);
            else if (next == '3' && !inC) values.push_back(kFnc3);
            else if (next == '4' && !inC) values.push_back(set == A ? kToA : kToB);
            else if (next == '{' && set == B) values.push_back('{' - 32), out.humanReadable += '{';
            else if (next == 'S' && !inC) {
                if (i + 2 >= data.size()) return fail(i, "\"{S\" ends the data");
                const int shifted = valueIn(set == A ? B : A, static_cast<unsigned char>(data[i + 2]));
                if (shifted < 0) return fail(i + 2, "no such character in the shifted code set");
                values.push_back(kShift);
                values.push_back(shifted);
                out.humanReadable += data[i + 2];
                i += 3;
                continue;
            } else
                return fail(i, "not a selector this code set knows");
            i += 2;
            continue;
        }
        if (set == C) {
            if (byte > 99) return fail(i, "a code set C value above 99");
            values.push_back(byte);
            out.humanReadable += static_cast<char>('0' + byte / 10);
            out.humanReadable += static_cast<char>('0' + byte % 10);
        } else {
            const int value = valueIn(set, byte);
            if (value < 0) return fail(i, "no such character in this code set");
            values.push_back(value);
            if (byte >= 0x20) out.humanReadable += static_cast<char>(byte);
        }
        ++i;
    }
    long check = values[0];
    for (std::size_t i = 1; i < values.size(); ++i) check += static_cast<long>(i) * values[i];
    values.push_back(static_cast<int>(check % 103));
    for (const int value : values)
        for (const char* width = kPatterns[value]; *width != '\0'; ++width) out.modules.push_back(*width - '0');
    for (const char* width = kStop; *width != '\0'; ++width) out.modules.push_back(*width - '0');
    for (const int width : out.modules) out.moduleCount += width;
    return out;
}

}  // namespace receipt_view
