// Shared by both backends: the Windows command-line splitting rules, which the
// POSIX backend needs to start programs from a Windows-style command line.
#include "platform/process.h"

namespace platform {

std::vector<std::wstring> splitCommandLine(std::wstring_view line) {
    std::vector<std::wstring> args;
    std::size_t i = 0;
    const std::size_t n = line.size();

    // The program name: a quoted run ends at the next quote; no escapes.
    std::wstring first;
    if (i < n && line[i] == L'"') {
        ++i;
        while (i < n && line[i] != L'"') first += line[i++];
        if (i < n) ++i;
    } else {
        while (i < n && line[i] != L' ' && line[i] != L'\t') first += line[i++];
    }
    args.push_back(std::move(first));

    // The other arguments. The shell's splitter counts consecutive quotes in
    // threes: inside a quoted run, "" is a literal quote that also ends the run.
    while (true) {
        while (i < n && (line[i] == L' ' || line[i] == L'\t')) ++i;
        if (i >= n) break;
        std::wstring arg;
        int quotes = 0;  // 1 while inside a quoted run
        std::size_t slashes = 0;
        while (i < n) {
            const wchar_t c = line[i];
            if (quotes == 0 && (c == L' ' || c == L'\t')) break;
            if (c == L'\\') {
                arg += c;
                ++slashes;
                ++i;
                continue;
            }
            if (c != L'"') {
                arg += c;
                slashes = 0;
                ++i;
                continue;
            }
            // Backslashes before a quote: half of them stay; an odd one
            // makes the quote literal.
            if (slashes % 2 == 0) {
                arg.resize(arg.size() - slashes / 2);
                ++quotes;
            } else {
                arg.resize(arg.size() - slashes / 2 - 1);
                arg += L'"';
            }
            slashes = 0;
            ++i;
            while (i < n && line[i] == L'"') {
                if (++quotes == 3) {
                    arg += L'"';
                    quotes = 0;
                }
                ++i;
            }
            if (quotes == 2) quotes = 0;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

}  // namespace platform
