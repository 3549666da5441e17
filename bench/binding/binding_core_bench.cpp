// The add-on core's figures: receipts encoded per second and allocations per
// receipt, on both routes; log lines per second from 4 processes x 2 threads.
//   binding_core_bench              runs both and prints the figures
//   binding_core_bench encode device|spooler SCALE RECEIPTS
//                                   one timed run on the receipt made SCALE
//                                   times longer, as one JSON object
//   binding_core_bench log          the log figures as one JSON object
//   binding_core_bench write T N    (internal) one writer process
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "binding/addon_log.h"
#include "binding/receipt_markup.h"

using namespace binding;

namespace fs = std::filesystem;

namespace {

std::atomic<long long> g_allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

class CountingSink : public RouteSink {
public:
    void write(std::string_view bytes) override {
        ++writes;
        total += bytes.size();
    }
    long long writes = 0;
    long long total = 0;
};

// 200 lines in 5 paragraphs, 40 barcodes (half of them long enough for code
// set C); `scale` times as many paragraphs.
std::string makeReceipt(int scale = 1) {
    std::string receipt;
    int barcodes = 0;
    for (int p = 0; p < 5 * scale; ++p) {
        receipt += "<p_s><c1>Table " + std::to_string(p) + "\n";
        for (int line = 0; line < 40; ++line) {
            receipt += (line % 3 == 0 ? "<h2>" : "<h1>") + std::string("Item ") + std::to_string(line) +
                       "  x2    12.50\n";
            if (line % 5 == 4) {
                receipt += ++barcodes % 2 == 0 ? "<bc>6901234567892" : "<bc>123456789012345678";
            }
        }
        receipt += "<p_e>";
    }
    return receipt + "<o_s>ORDER-20261207-0001<o_e>";
}

struct EncodingFigures {
    double seconds = 0;
    double allocations = 0;  // a receipt
    long long writes = 0;    // a receipt
    long long bytes = 0;     // a receipt
};

EncodingFigures encodeReceipts(Route route, int scale, int receipts) {
    const std::string receipt = makeReceipt(scale);
    CountingSink sink;
    const long long before = g_allocations.load();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < receipts; ++i) {
        std::string text = receipt;
        std::string orderId;
        if (route == Route::Device) splitOrderId(text, orderId);
        for (const auto paragraph : splitParagraphs(text, route)) {
            const auto segments = tokenizeSegments(paragraph);
            if (route == Route::Device && segments.empty()) continue;
            encodeParagraph(segments, route, sink);
        }
    }
    EncodingFigures figures;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.allocations = static_cast<double>(g_allocations.load() - before) / receipts;
    figures.writes = sink.writes / receipts;
    figures.bytes = sink.total / receipts;
    return figures;
}

void benchmarkEncoding(Route route, const char* name) {
    constexpr int kReceipts = 10000;
    const EncodingFigures figures = encodeReceipts(route, 1, kReceipts);
    std::printf("encode %-7s %d receipts in %.3f s: %.0f receipts/s, %.1f allocations/receipt, %lld writes and %lld bytes/receipt\n",
                name, kReceipts, figures.seconds, kReceipts / figures.seconds, figures.allocations, figures.writes,
                figures.bytes);
}

int writer(int threads, int lines) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([=] {
            for (int i = 0; i < lines; ++i) logLine("WriteFile ret:%d, Written: %d thread %d", 1, i, t);
        });
    for (auto& worker : workers) worker.join();
    return 0;
}

void benchmarkLog(bool json) {
    constexpr int kProcesses = 4, kThreads = 2, kLines = 5000;
    const fs::path dir = fs::temp_directory_path() / ("orvane-log-bench-" + std::to_string(std::rand()));
    fs::create_directories(dir / "log");
    fs::create_directories(dir / "runtime");
    ::setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
    const fs::path exe = dir / "binding_core_bench";
    fs::copy_file(fs::read_symlink("/proc/self/exe"), exe);

    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> processes;
    for (int p = 0; p < kProcesses; ++p)
        processes.emplace_back([&] {
            const std::string command =
                "'" + exe.string() + "' write " + std::to_string(kThreads) + " " + std::to_string(kLines);
            if (std::system(command.c_str()) != 0) std::fprintf(stderr, "a writer failed\n");
        });
    for (auto& process : processes) process.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::ifstream in(dir / "log" / "kesto.log", std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::regex whole(R"(\[[ 0-9]{2}-[ 0-9]{2} [ 0-9]{2}:[ 0-9]{2}:[ 0-9]{2}_[ 0-9]{3}\]\[default\]WriteFile ret:1, Written: [0-9]+ thread [0-9])");
    long long lines = 0, torn = 0;
    std::size_t start_at = 0;
    for (std::size_t end; (end = content.find("\r\n", start_at)) != std::string::npos; start_at = end + 2, ++lines)
        if (!std::regex_match(content.begin() + static_cast<long>(start_at), content.begin() + static_cast<long>(end), whole)) ++torn;
    if (start_at != content.size()) ++torn;
    const long long expected = static_cast<long long>(kProcesses) * kThreads * kLines;
    if (json)
        std::printf("{\"linesPerSecond\": %.0f, \"lines\": %lld, \"expected\": %lld, \"torn\": %lld}\n", lines / seconds,
                    lines, expected, torn);
    else
        std::printf("log    %d processes x %d threads: %lld of %lld lines in %.3f s (process starts included): %.0f lines/s, %lld torn\n",
                kProcesses, kThreads, lines, expected, seconds, lines / seconds, torn);
    fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "write") return writer(std::atoi(argv[2]), std::atoi(argv[3]));
    if (argc == 2 && std::string(argv[1]) == "log") {
        benchmarkLog(true);
        return 0;
    }
    if (argc == 5 && std::string(argv[1]) == "encode") {
        const int receipts = std::atoi(argv[4]);
        const auto figures = encodeReceipts(std::string(argv[2]) == "spooler" ? Route::Spooler : Route::Device,
                                            std::atoi(argv[3]), receipts);
        std::printf("{\"receiptsPerSecond\": %.1f, \"allocationsPerReceipt\": %.1f, \"writesPerReceipt\": %lld, "
                    "\"bytesPerReceipt\": %lld}\n",
                    receipts / figures.seconds, figures.allocations, figures.writes, figures.bytes);
        return 0;
    }
    benchmarkEncoding(Route::Device, "device");
    benchmarkEncoding(Route::Spooler, "spooler");
    benchmarkLog(false);
    return 0;
}
