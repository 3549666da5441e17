// Profile files on POSIX: the same text format and lookup rules as the
// Windows profile functions, read and rewritten whole on every call.
#include "platform/profile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/posix/text.h"

namespace platform {

namespace {

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::vector<std::string> readLines(const std::string& file, bool& exists) {
    std::ifstream in(file, std::ios::binary);
    exists = static_cast<bool>(in);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Section header name, or nullopt when the line is no header.
std::optional<std::string> sectionName(const std::string& line) {
    const std::string t = trim(line);
    if (t.size() < 2 || t.front() != '[') return std::nullopt;
    const auto close = t.find(']');
    if (close == std::string::npos) return std::nullopt;
    return trim(t.substr(1, close - 1));
}

std::optional<std::pair<std::string, std::string>> keyValue(const std::string& line) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return std::make_pair(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
}

}  // namespace

std::string readProfileStringA(const std::string& file, const std::string& section, const std::string& key,
                               const std::string& defaultValue, std::size_t bufferChars) {
    auto cut = [bufferChars](std::string v) {
        if (bufferChars == 0) return std::string();
        if (v.size() > bufferChars - 1) v.resize(bufferChars - 1);
        return v;
    };
    bool exists = false;
    const auto lines = readLines(file, exists);
    bool inSection = false;
    for (const auto& line : lines) {
        if (auto name = sectionName(line)) {
            inSection = equalsNoCase(*name, section);
            continue;
        }
        if (!inSection) continue;
        if (auto kv = keyValue(line); kv && equalsNoCase(kv->first, key)) {
            std::string value = kv->second;
            // Matching quotes around a value are not part of it.
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            return cut(value);
        }
    }
    // The profile functions strip trailing blanks from the default only.
    std::string fallback = defaultValue;
    while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
    return cut(fallback);
}

bool writeProfileStringA(const std::string& file, const std::string& section, const std::string& key,
                         const std::string& value) {
    bool exists = false;
    auto lines = readLines(file, exists);
    const std::string entry = key + "=" + value;
    bool inSection = false;
    std::optional<std::size_t> sectionEnd;  // insertion point after the section's last entry
    bool written = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (auto name = sectionName(lines[i])) {
            if (inSection) break;
            inSection = equalsNoCase(*name, section);
            if (inSection) sectionEnd = i + 1;
            continue;
        }
        if (!inSection) continue;
        if (auto kv = keyValue(lines[i])) {
            if (equalsNoCase(kv->first, key)) {
                // The key keeps the spelling it already has in the file.
                lines[i] = kv->first + "=" + value;
                written = true;
                break;
            }
            sectionEnd = i + 1;
        } else if (!trim(lines[i]).empty()) {
            sectionEnd = i + 1;
        }
    }
    if (!written) {
        if (sectionEnd) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*sectionEnd), entry);
        } else {
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
        }
    }
    std::ostringstream text;
    for (const auto& l : lines) text << l << "\r\n";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text.str();
    out.flush();
    return static_cast<bool>(out);
}

std::wstring readProfileString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                               const std::wstring& defaultValue, std::size_t bufferChars) {
    std::wstring value = posix::fromUtf8(readProfileStringA(posix::toUtf8(file), posix::toUtf8(section),
                                                            posix::toUtf8(key), posix::toUtf8(defaultValue),
                                                            static_cast<std::size_t>(-1)));
    if (bufferChars == 0) return {};
    if (value.size() > bufferChars - 1) value.resize(bufferChars - 1);
    return value;
}

bool writeProfileString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                        const std::wstring& value) {
    return writeProfileStringA(posix::toUtf8(file), posix::toUtf8(section), posix::toUtf8(key),
                               posix::toUtf8(value));
}

}  // namespace platform
