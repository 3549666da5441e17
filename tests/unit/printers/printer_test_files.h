// Files for the printer tests: a scratch folder per test and whole-file
// reads, byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace printer_test {

namespace fs = std::filesystem;

inline std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

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

// A folder under the temporary folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::random_device random;
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "orvane-printers-";
        if (test != nullptr) name += std::string(test->name()) + "-";
        for (char& c : name)
            if (c == '/') c = '_';
        // MinGW's random_device may repeat itself, and one test may hold two folders.
        static int count = 0;
        path_ = fs::temp_directory_path() / (name + std::to_string(random()) + "-" + std::to_string(++count));
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

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
