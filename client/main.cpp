// Stand-in for the client application: it keeps exactly the files the shell
// relies on, so the launcher and the updater can be run for real.
//   --user-data-dir="<folder>"  the slot folder chosen by the launcher
//   --crash-dump                 write a crash dump where the crash reporter would
//   --run-seconds=N              end normally after N seconds (default: run until ended)
#include <chrono>
#include <csignal>
#include <cwchar>
#include <string>
#include <thread>

#include "platform/entry.h"
#include "platform/files.h"
#include "common/guid.h"
#include "platform/process.h"
#include "common/text.h"

using namespace common;

namespace {

volatile std::sig_atomic_t g_stop = 0;
void requestStop(int) { g_stop = 1; }

bool writeWholeFile(const std::wstring& path, const std::string& bytes) {
    // A record left by an ended process with the same id must not keep a
    // longer tail behind the new content.
    platform::deleteFile(path);
    auto file = platform::File::open(path, platform::File::Disposition::OpenAlways, true);
    return file.isOpen() && file.write(bytes.data(), bytes.size());
}

std::wstring join(std::wstring base, std::wstring_view more) {
    platform::pathAppend(base, more);
    return base;
}

}  // namespace

int programMain() {
    std::wstring slot;
    bool crashDump = false;
    long runSeconds = -1;
    const auto args = platform::commandLineArguments().value_or(std::vector<std::wstring>{});
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        if (a.starts_with(L"--user-data-dir=")) slot = a.substr(16);
        else if (a == L"--crash-dump") crashDump = true;
        else if (a.starts_with(L"--run-seconds=")) runSeconds = std::wcstol(a.c_str() + 14, nullptr, 10);
    }

    const auto appData = platform::localAppDataFolder();
    std::wstring lockfile;
    std::wstring record;
    if (!slot.empty()) {
        platform::createDirectories(slot);
        lockfile = join(slot, L"lockfile");
        writeWholeFile(lockfile, std::to_string(platform::currentProcessId()));
    }
    if (appData && !lockfile.empty()) {
        const std::wstring records = join(join(*appData, L"KestoOrvane"), L"lockfiles");
        platform::createDirectories(records);
        record = join(records, std::to_wstring(platform::currentProcessId()));
        writeWholeFile(record, narrowFileName(lockfile));
    }
    const std::wstring packageLocks = join(join(platform::currentDirectory(), L"package.nw"), L"lockfiles");
    platform::createDirectories(packageLocks);

    if (crashDump && appData) {
        const std::wstring reports = join(join(*appData, L"Crashpad"), L"reports");
        platform::createDirectories(reports);
        std::wstring id;
        makeGuidString(&id);
        writeWholeFile(join(reports, id + L".dmp"), "MDMP");
    }

    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    const auto start = std::chrono::steady_clock::now();
    while (g_stop == 0) {
        if (runSeconds >= 0 && std::chrono::steady_clock::now() - start >= std::chrono::seconds(runSeconds)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    // A normal exit takes its own marks away; an ended instance leaves them
    // for the updater's housekeeping.
    if (!lockfile.empty()) platform::deleteFile(lockfile);
    if (!record.empty()) platform::deleteFile(record);
    return 0;
}
