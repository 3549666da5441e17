// Profile (INI) files, with the semantics of the Windows profile functions:
// sections and keys match without regard to case, other content is kept,
// a missing file is created on write, values are cut to the caller's buffer.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Reads section/key into a buffer of `bufferChars` characters (terminator
// included), so at most bufferChars - 1 characters come back.
std::wstring readProfileString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                               const std::wstring& defaultValue, std::size_t bufferChars);
bool writeProfileString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                        const std::wstring& value);

// The same on ANSI text, as the add-on uses them.
std::string readProfileStringA(const std::string& file, const std::string& section, const std::string& key,
                               const std::string& defaultValue, std::size_t bufferChars);
bool writeProfileStringA(const std::string& file, const std::string& section, const std::string& key,
                         const std::string& value);

}  // namespace platform
