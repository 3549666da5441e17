// Internal to the POSIX backend: file names and profile text are UTF-8 there.
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);

}  // namespace platform::posix

namespace platform::posix {

// Set by the POSIX entry point so the command line can be read back later.
void recordProgramArguments(int argc, char** argv);

}  // namespace platform::posix
