// Records that it ran, then waits to be ended. Each start appends one line
// to "<own name>.runs" in its current directory:
//   <process id> TAB <current directory> [TAB <argument>]... CR LF
// It ends by itself after five minutes so that a failed test leaves nothing
// running for long.
#include <chrono>
#include <string>
#include <thread>

#include "platform/entry.h"
#include "platform/files.h"
#include "platform/process.h"
#include "common/text.h"

using namespace common;

int programMain() {
    const auto args = platform::commandLineArguments().value_or(std::vector<std::wstring>{});
    std::wstring self = platform::executablePath();
    self = self.substr(self.find_last_of(platform::kPathSeparator) + 1);
    if (const std::wstring suffix = platform::kExeSuffix; !suffix.empty() && self.ends_with(suffix))
        self.resize(self.size() - suffix.size());

    std::wstring line = std::to_wstring(platform::currentProcessId()) + L"\t" + platform::currentDirectory();
    for (std::size_t i = 1; i < args.size(); ++i) line += L"\t" + args[i];
    line += L"\r\n";
    const std::string bytes = narrowText(line);
    platform::appendToFile(self + L".runs", bytes.data(), bytes.size());

    std::this_thread::sleep_for(std::chrono::minutes(5));
    return 0;
}
