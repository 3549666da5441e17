// One download with httpDownload, timed: `download_bench URL FILE`.
// Prints "status seconds peak-resident-KiB"; bench/run_bench.py drives it.
// The peak is the kernel's for this program alone (VmHWM): the resource usage
// its parent sees also counts the parent's memory from before the program
// replaced the forked copy of it.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "updater/http_client.h"

using namespace updater;

namespace {

long peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL FILE\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const HttpResponse response = httpDownload(argv[1], argv[2]);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%d %.3f %ld\n", response.code, took.count(), peakResidentKiB());
    return response.code == 200 ? 0 : 1;
}
