// A process that has the add-on's log, for the tests of writers in several
// processes. Its log is "log/kesto.log" beside wherever its executable lies.
//   write <threads> <lines> <tag>  each thread logs <lines> numbered lines
//   text <message>                 logs the message, "\n" standing for a line feed
//   hold <ready file>              takes the log lock, writes its process id to
//                                  the ready file and waits (five minutes at
//                                  most) to be ended while holding the lock
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "binding/addon_log.h"
#include "platform/entry.h"
#include "platform/named_lock.h"
#include "platform/process.h"
#include "common/text.h"

using namespace common;
using namespace binding;

namespace {

// Long enough that torn lines would show; identical in every line.
const std::string kFiller(120, '=');

}  // namespace

int programMain() {
    const auto args = platform::commandLineArguments().value_or(std::vector<std::wstring>{});
    if (args.size() < 3) return 2;
    const std::wstring& mode = args[1];
    if (mode == L"write" && args.size() == 5) {
        const int threads = std::stoi(args[2]);
        const int lines = std::stoi(args[3]);
        const std::string tag = narrowText(args[4]);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([=] {
                for (int i = 0; i < lines; ++i) logLine("writer %s thread %d line %d %s", tag, t, i, kFiller);
            });
        }
        for (auto& worker : workers) worker.join();
        return 0;
    }
    if (mode == L"text") {
        const std::string given = narrowText(args[2]);
        std::string message;
        for (std::size_t i = 0; i < given.size(); ++i) {
            const bool lineFeed = given.compare(i, 2, "\\n") == 0;
            message += lineFeed ? '\n' : given[i];
            if (lineFeed) ++i;
        }
        logLine("%s", message);
        return 0;
    }
    if (mode == L"hold") {
        platform::NamedMutex lock(L"XDUPLOG");
        const auto hold = lock.lock(std::chrono::minutes(1));
        if (!hold.owns()) return 3;
        // Renamed into place, so the test never reads a half-written id.
        const std::filesystem::path ready(args[2]);
        std::filesystem::path partial = ready;
        partial += ".tmp";
        std::ofstream(partial) << platform::currentProcessId();
        std::filesystem::rename(partial, ready);
        std::this_thread::sleep_for(std::chrono::minutes(5));
        return 0;
    }
    return 2;
}
