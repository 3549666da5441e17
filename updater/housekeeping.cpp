#include "updater/housekeeping.h"

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "common/text.h"

namespace updater {

namespace {

const std::wstring kClientExe = std::wstring(L"Orvane") + platform::kExeSuffix;
// A record holds one path of at most this many bytes.
constexpr std::size_t kRecordReadLimit = 520;

// The client found on an earlier pass, asked for first: while it runs, a pass
// reads one executable name instead of every process's.
std::atomic<std::uint32_t> g_lastClient{0};

bool clientRunning(platform::ProcessLookup& processes) {
    const auto client = processes.processNamed(kClientExe, g_lastClient.load());
    if (client) g_lastClient.store(*client);
    return client.has_value();
}

// Read as the C runtime reads a number: leading blanks and a sign allowed,
// digits up to the first other character, none giving 0; the id is the low
// 32 bits.
std::uint32_t recordProcessId(const std::wstring& name) {
    const std::string text = common::narrowText(name);
    return static_cast<std::uint32_t>(std::strtoll(text.c_str(), nullptr, 10));
}

// Deletes the file a record names; the record itself is left to the caller.
void deleteNamedFile(const std::wstring& record) {
    // Anything but an ordinary file (a folder, a pipe that would block the
    // read) counts as a record that cannot be opened.
    if (!platform::isRegularFile(record)) return;
    auto file = platform::File::open(record, platform::File::Disposition::OpenExisting, true);
    if (!file.isOpen()) return;
    std::string buffer(kRecordReadLimit, '\0');
    const auto got = file.read(buffer.data(), buffer.size());
    file.close();
    if (!got) return;
    buffer.resize(*got);
    const std::wstring named = common::widenFileName(buffer.substr(0, buffer.find('\0')));
    if (!named.empty()) platform::deleteFile(named);
}

// Phase one. False when the record folder is missing, which ends the whole
// job; `processes` holds the process lookup when one was made.
bool cleanRecords(std::optional<platform::ProcessLookup>& processes) {
    std::wstring records;
    if (auto appData = platform::localAppDataFolder()) records = std::move(*appData);
    else return true;
    if (!platform::pathAppend(records, L"KestoOrvane") || !platform::pathAppend(records, L"lockfiles") ||
        !platform::pathExists(records))
        return false;
    const auto entries = platform::listDirectory(records, L"*");
    if (!entries) return true;
    // The listing comes before the process list: a record seen in it was
    // written by a process that had started before the list was taken.
    processes.emplace();
    for (const auto& entry : *entries) {
        if (entry.name.starts_with(L'.')) continue;
        if (processes->hasProcess(recordProcessId(entry.name))) continue;
        const std::wstring record = records + platform::kPathSeparator + entry.name;
        deleteNamedFile(record);
        platform::deleteFile(record);
    }
    return true;
}

}  // namespace

bool isProcessIdRunning(std::uint32_t pid) { return platform::ProcessLookup().hasProcess(pid); }

bool isClientRunning() {
    platform::ProcessLookup processes;
    return clientRunning(processes);
}

void cleanStaleLocks() {
    std::optional<platform::ProcessLookup> processes;
    if (!cleanRecords(processes)) return;
    std::wstring folder = platform::currentDirectory();
    if (!platform::pathAppend(folder, L"package.nw") || !platform::pathAppend(folder, L"lockfiles") ||
        !platform::pathExists(folder))
        return;
    // Asked only with a folder to remove: the names of the processes are the
    // costly part of the lookup.
    if (!processes) processes.emplace();
    if (!clientRunning(*processes)) platform::removeTree(folder);
}

}  // namespace updater
