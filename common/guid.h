// The installation ID: a fresh GUID as 36 upper-case hexadecimal characters.
#pragma once

#include <string>

namespace common {

// Returns true with the ID in *out; false, leaving *out as it was, when no
// buffer is given or the system cannot make a GUID.
bool makeGuidString(std::wstring* out);

}  // namespace common
