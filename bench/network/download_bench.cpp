// One download with httpDownload, timed: `download_bench URL FILE`.
// Prints "status seconds"; run_download_bench.py drives it.
#include <chrono>
#include <cstdio>

#include "http_client.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL FILE\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const HttpResponse response = httpDownload(argv[1], argv[2]);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%d %.3f\n", response.code, took.count());
    return response.code == 200 ? 0 : 1;
}
