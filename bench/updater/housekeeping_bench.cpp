// One housekeeping tick against lock records and a process list of chosen
// lengths, beside its anchor: listing only the process ids, which every tick
// must do. Rounds alternate the tick and the anchor; each value is the median
// of the ticks of one round. Runs in a private local application-data folder.
//   housekeeping_bench ROUNDS PROCESSES...
// prints one JSON object: per process count, per record count, the rounds'
// tick times (wall and processor), and the anchor's, in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "updater/housekeeping.h"
#include "platform/process.h"

using namespace updater;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRecordCounts[] = {100, 200, 400, 800};
constexpr int kTicks = 7;

// Sleeping processes that give the process list its length; `program` is
// a sleep under another name.
class Sleepers {
public:
    explicit Sleepers(int count, const std::string& program = "sleep") {
        if (count <= 0) return;
        const std::string command = "for i in $(seq " + std::to_string(count) + "); do '" + program +
                                    "' 600 >/dev/null 2>&1 & echo $!; done";
        FILE* pipe = popen(command.c_str(), "r");
        unsigned pid = 0;
        while (pipe != nullptr && std::fscanf(pipe, "%u", &pid) == 1) pids_.push_back(pid);
        if (pipe != nullptr) pclose(pipe);
    }
    ~Sleepers() {
        for (auto pid : pids_) platform::terminateProcess(pid);
    }
    Sleepers(const Sleepers&) = delete;
    Sleepers& operator=(const Sleepers&) = delete;
    const std::vector<std::uint32_t>& pids() const { return pids_; }

private:
    std::vector<std::uint32_t> pids_;
};

void writeFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::size_t countProcessIds() {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) ++count;
    }
    return count;
}

// Median milliseconds of listing the ids of /proc.
double anchorMilliseconds() {
    std::vector<double> times;
    for (int t = 0; t < kTicks; ++t) {
        const auto start = Clock::now();
        countProcessIds();
        times.push_back(millisecondsSince(start));
    }
    return median(times);
}

struct TickTime {
    double wall = 0;  // milliseconds
    double cpu = 0;   // milliseconds of this process's processor time, which the machine's load disturbs less
};

// Median milliseconds per tick with `records` records, half of them of
// running processes and half stale (each naming a lockfile), the stale ones
// made afresh before every tick. With `packageLocks`, the client's package
// lock folder is there at every tick, so the tick asks for the client by name:
// with none running, every process's name is read.
TickTime tickMilliseconds(const fs::path& records, const fs::path& slots, const std::vector<std::uint32_t>& running,
                          int count, bool packageLocks) {
    fs::remove_all(records);
    fs::create_directories(records);
    const int live = count / 2;
    for (int i = 0; i < live; ++i) {
        // Leading zeros give one running process several records.
        const std::size_t round = static_cast<std::size_t>(i) / running.size();
        const std::string name = std::string(round, '0') + std::to_string(running[static_cast<std::size_t>(i) % running.size()]);
        writeFile(records / name, "");
    }
    std::vector<double> times, cpuTimes;
    for (int t = 0; t < kTicks; ++t) {
        for (int i = live; i < count; ++i) {
            const fs::path lock = slots / ("lock" + std::to_string(i));
            writeFile(lock, "");
            // Ids far above any the system hands out.
            writeFile(records / std::to_string(3000000000u + static_cast<unsigned>(i)), lock.string());
        }
        if (packageLocks) fs::create_directories(fs::path("package.nw") / "lockfiles");
        const auto start = Clock::now();
        const std::clock_t cpuStart = std::clock();
        cleanStaleLocks();
        cpuTimes.push_back(static_cast<double>(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC);
        times.push_back(millisecondsSince(start));
    }
    return {median(times), median(cpuTimes)};
}

std::string jsonList(const std::vector<double>& values) {
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); ++i) text += (i == 0 ? "" : ", ") + std::to_string(values[i]);
    return text + "]";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ROUNDS PROCESSES...\n", argv[0]);
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    const fs::path root = fs::temp_directory_path() / "orvane-housekeeping-bench";
    fs::remove_all(root);
    fs::create_directories(root / "data");
    fs::create_directories(root / "slots");
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    fs::current_path(root);
    const fs::path records = root / "data" / "KestoOrvane" / "lockfiles";
    fs::copy_file("/bin/sleep", root / "Orvane");

    std::string json = "{";
    std::vector<std::unique_ptr<Sleepers>> sleepers;
    for (int a = 2; a < argc; ++a) {
        const int target = std::atoi(argv[a]);
        sleepers.push_back(std::make_unique<Sleepers>(target - static_cast<int>(countProcessIds())));
        std::vector<std::uint32_t> running;
        for (const auto& group : sleepers) running.insert(running.end(), group->pids().begin(), group->pids().end());
        if (running.empty()) running.push_back(platform::currentProcessId());
        std::vector<double> anchor, withFolder, withClient;
        std::vector<std::vector<double>> ticks(std::size(kRecordCounts)), cpu(std::size(kRecordCounts));
        for (int r = 0; r < rounds; ++r) {
            anchor.push_back(anchorMilliseconds());
            for (std::size_t c = 0; c < std::size(kRecordCounts); ++c) {
                const TickTime tick = tickMilliseconds(records, root / "slots", running, kRecordCounts[c], false);
                ticks[c].push_back(tick.wall);
                cpu[c].push_back(tick.cpu);
            }
            withFolder.push_back(tickMilliseconds(records, root / "slots", running, 200, true).wall);
            {
                const Sleepers client(1, (root / "Orvane").string());
                withClient.push_back(tickMilliseconds(records, root / "slots", running, 200, true).wall);
            }
        }
        json += std::string(a == 2 ? "" : ", ") + "\"" + std::to_string(countProcessIds()) + "\": {\"ids\": " + jsonList(anchor) +
                ", \"packageLocks200\": " + jsonList(withFolder) + ", \"client200\": " + jsonList(withClient);
        for (std::size_t c = 0; c < std::size(kRecordCounts); ++c)
            json += ", \"" + std::to_string(kRecordCounts[c]) + "\": " + jsonList(ticks[c]) + ", \"" +
                    std::to_string(kRecordCounts[c]) + "cpu\": " + jsonList(cpu[c]);
        json += "}";
    }
    std::printf("%s}\n", json.c_str());
    sleepers.clear();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(root);
    return 0;
}
