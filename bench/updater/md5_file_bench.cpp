// md5FileHex against md5sum on the same file, in one run, warm cache for
// both: prints each one's throughput and the ratio.
//   md5_file_bench [size in MiB, default 512]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "md5.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string runMd5sum(const fs::path& file) {
    const std::string command = "md5sum '" + file.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    char digest[33] = {};
    const std::size_t got = std::fread(digest, 1, 32, pipe);
    pclose(pipe);
    return std::string(digest, got);
}

template <typename F>
double bestSeconds(int rounds, F&& run) {
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 512;
    const fs::path file = fs::temp_directory_path() / "orvane-md5-bench.bin";
    {
        std::ofstream out(file, std::ios::binary);
        std::mt19937_64 random(1321);
        std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
        for (std::size_t i = 0; i < mib; ++i) {
            for (auto& word : block) word = random();
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
        }
    }
    const std::string expected = runMd5sum(file);  // also brings the file into the cache
    std::string ours;
    const double oursSeconds = bestSeconds(3, [&] { ours = md5FileHex(file.string()); });
    const double theirsSeconds = bestSeconds(3, [&] { runMd5sum(file); });
    fs::remove(file);

    const double size = static_cast<double>(mib);
    std::printf("file: %zu MiB, digests %s\n", mib, ours == expected ? "agree" : "DIFFER");
    std::printf("md5FileHex: %.3f s, %.0f MiB/s\n", oursSeconds, size / oursSeconds);
    std::printf("md5sum:     %.3f s, %.0f MiB/s\n", theirsSeconds, size / theirsSeconds);
    std::printf("ratio (md5FileHex / md5sum throughput): %.2f\n", theirsSeconds / oursSeconds);
    return ours == expected ? 0 : 1;
}
