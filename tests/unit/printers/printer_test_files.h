// Files and processes for the printer tests; scratch folders and whole-file
// reads come from the unit tests' support.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/support/test_folder.h"

namespace printer_test {

// The messages of the add-on log in `folder`/log, without their time stamp
// and category, in order.
inline std::vector<std::string> logMessages(const fs::path& folder) {
    std::vector<std::string> lines;
    std::istringstream log(readBytes(folder / "log" / "kesto.log"));
    for (std::string line; std::getline(log, line);) {
        const auto start = line.find("[default]");
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (start != std::string::npos) lines.push_back(line.substr(start + 9));
    }
    return lines;
}

// One word of a std::system command line: cmd takes double quotes, sh single.
inline std::string shellQuoted(const std::string& text) {
#ifdef _WIN32
    return '"' + text + '"';
#else
    return '\'' + text + '\'';
#endif
}

// Runs a command line made of shellQuoted words; gives its status.
inline int runCommand(std::string command) {
#ifdef _WIN32
    // The shell drops the outer quotes of a line that starts with one.
    command = '"' + command + '"';
#endif
    return std::system(command.c_str());
}

// Waits for something another process does; the deadline only ends a test
// that would otherwise hang.
template <typename Condition>
bool eventually(Condition condition, std::chrono::seconds deadline = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace printer_test
