// One housekeeping tick with lock records against a process list: time per
// tick for 200 records (100 stale) and a few hundred processes, and for twice
// the records and twice the processes, to show the cost adds up rather than
// multiplies. Runs in a private local application-data folder.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "housekeeping.h"
#include "process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Sleeping processes that give the process list its length.
class Sleepers {
public:
    explicit Sleepers(int count) {
        const std::string command = "for i in $(seq " + std::to_string(count) + "); do sleep 600 >/dev/null 2>&1 & echo $!; done";
        FILE* pipe = popen(command.c_str(), "r");
        unsigned pid = 0;
        while (pipe != nullptr && std::fscanf(pipe, "%u", &pid) == 1) pids_.push_back(pid);
        if (pipe != nullptr) pclose(pipe);
    }
    ~Sleepers() {
        for (auto pid : pids_) platform::terminateProcess(pid);
    }
    const std::vector<std::uint32_t>& pids() const { return pids_; }

private:
    std::vector<std::uint32_t> pids_;
};

void writeFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

struct TickTime {
    double wall;  // milliseconds
    double cpu;   // milliseconds of this process's processor time
};

// Median milliseconds per tick over `ticks`, with `live` records of running
// processes and `stale` records (each naming a lockfile) made afresh before
// every tick.
TickTime tickMilliseconds(const fs::path& records, const fs::path& slots, const std::vector<std::uint32_t>& running,
                        int live, int stale, int ticks) {
    fs::remove_all(records);
    fs::create_directories(records);
    for (int i = 0; i < live; ++i) writeFile(records / std::to_string(running[static_cast<std::size_t>(i) % running.size()]), "");
    std::vector<double> times;
    std::vector<double> cpuTimes;
    for (int t = 0; t < ticks; ++t) {
        for (int i = 0; i < stale; ++i) {
            const fs::path lock = slots / ("lock" + std::to_string(i));
            writeFile(lock, "");
            // Ids far above any the system hands out.
            writeFile(records / std::to_string(3000000000u + static_cast<unsigned>(i)), lock.string());
        }
        const auto start = Clock::now();
        const std::clock_t cpuStart = std::clock();
        cleanStaleLocks();
        cpuTimes.push_back(static_cast<double>(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    return {times[times.size() / 2], cpuTimes[cpuTimes.size() / 2]};
}

}  // namespace

int main() {
    const fs::path root = fs::temp_directory_path() / "orvane-housekeeping-bench";
    fs::remove_all(root);
    fs::create_directories(root / "data");
    fs::create_directories(root / "slots");
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    fs::current_path(root);
    const fs::path records = root / "data" / "KestoOrvane" / "lockfiles";

    Sleepers base(300);
    const std::size_t processes = platform::listProcesses().size();
    std::vector<std::uint32_t> running = base.pids();
    const TickTime small = tickMilliseconds(records, root / "slots", running, 100, 100, 21);
    const TickTime moreRecords = tickMilliseconds(records, root / "slots", running, 200, 200, 21);
    TickTime moreProcesses{};
    std::size_t processesDoubled = 0;
    {
        Sleepers extra(static_cast<int>(processes));
        processesDoubled = platform::listProcesses().size();
        moreProcesses = tickMilliseconds(records, root / "slots", running, 100, 100, 21);
    }
    // Wall time depends on what else the machine runs; processor time less so.
    const char* format = "%3d records (%3d stale), %4zu processes: %6.2f ms per tick, %6.2f ms processor time\n";
    std::printf(format, 200, 100, processes, small.wall, small.cpu);
    std::printf(format, 400, 200, processes, moreRecords.wall, moreRecords.cpu);
    std::printf(format, 200, 100, processesDoubled, moreProcesses.wall, moreProcesses.cpu);
    std::printf("process list alone, %zu processes: %.2f ms\n", processes, [] {
        const auto start = Clock::now();
        for (int i = 0; i < 10; ++i) platform::listProcesses();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / 10;
    }());
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(root);
    return 0;
}
