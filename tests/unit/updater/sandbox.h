// A private local application-data folder and working folder for one test.
#pragma once

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const fs::path& appData() const { return appData_; }
    const fs::path& work() const { return work_; }
    fs::path kesto() const { return appData_ / "KestoOrvane"; }
    fs::path records() const { return kesto() / "lockfiles"; }
    fs::path dumps() const { return appData_ / "Crashpad" / "reports"; }
    fs::path log() const { return work_ / "orvane_updater.log"; }
    std::string logText() const;

#ifndef _WIN32
    // Makes the local application-data folder impossible to find.
    void hideAppData();
#endif

private:
    fs::path root_;
    fs::path appData_;
    fs::path work_;
    fs::path previousDirectory_;
};

void writeFile(const fs::path& path, const std::string& bytes);
std::string readFile(const fs::path& path);
// A process id that no running process has.
std::uint32_t endedProcessId();
