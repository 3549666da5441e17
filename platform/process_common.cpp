// Shared by both backends: the Windows command-line splitting rules, which the
// POSIX backend needs to start programs from a Windows-style command line.
#include "process.h"

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

    while (true) {
        while (i < n && (line[i] == L' ' || line[i] == L'\t')) ++i;
        if (i >= n) break;
        std::wstring arg;
        bool quoted = false;
        while (i < n) {
            const wchar_t c = line[i];
            if (!quoted && (c == L' ' || c == L'\t')) break;
            if (c == L'\\') {
                std::size_t slashes = 0;
                while (i < n && line[i] == L'\\') { ++slashes; ++i; }
                if (i < n && line[i] == L'"') {
                    arg.append(slashes / 2, L'\\');
                    if (slashes % 2 == 1) { arg += L'"'; ++i; }
                } else {
                    arg.append(slashes, L'\\');
                }
                continue;
            }
            if (c == L'"') {
                if (quoted && i + 1 < n && line[i + 1] == L'"') {
                    arg += L'"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg += c;
            ++i;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

}  // namespace platform
