#include "job_tracking.h"

#include <algorithm>
#include <chrono>

namespace {

template <std::size_t N>
void copyCut(char (&field)[N], std::string_view text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::copy_n(text.data(), n, field);
    field[n] = '\0';
}

// Whole ids only: order 12 is not already there because order 123 is.
bool containsId(std::string_view list, std::string_view id) {
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string_view::npos) end = list.size();
        if (list.substr(start, end - start) == id) return true;
        start = end + 1;
    }
    return false;
}

void appendId(std::string& result, std::string_view id) {
    if (!result.empty()) result += ',';
    result += id;
}

}  // namespace

TrackedTask makeTrackedTask(std::int32_t time, std::string_view orderId, std::string_view documentName,
                            std::int32_t expectedJobs) {
    TrackedTask task;
    task.time = time;
    copyCut(task.orderId, orderId);
    copyCut(task.documentName, documentName);
    task.expectedJobs = expectedJobs;
    return task;
}

std::vector<std::string> splitOnComma(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            break;
        }
        pieces.emplace_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return pieces;
}

void snapshotPrinterJobs(JobSnapshot& snapshot, const std::string& printer, const JobLister& lister) {
    const auto jobs = lister(printer.substr(0, kMaxSpoolerName));
    if (!jobs) return;
    for (const auto& job : *jobs) {
        auto [entry, added] = snapshot.try_emplace(job.document);
        JobTally& tally = entry->second;
        if (added) {
            tally = {1, job.totalPages, job.pagesPrinted, job.document};
        } else {
            ++tally.count;
            if (tally.pagesPrinted <= 0) tally.pagesPrinted = job.pagesPrinted;
        }
    }
}

void snapshotJobs(const std::vector<std::string>& printers, JobSnapshot& snapshot, const JobLister& lister) {
    snapshot.clear();
    for (const auto& printer : printers) snapshotPrinterJobs(snapshot, printer, lister);
}

std::size_t collectPrintedTasks(std::vector<TrackedTask>& tasks, const JobSnapshot& snapshot, std::string& result,
                                std::int32_t monitorTime, std::int32_t now) {
    for (auto task = tasks.begin(); task != tasks.end();) {
        const auto found = snapshot.find(task->documentName);
        if (found == snapshot.end()) {
            // Its jobs have left every queue: printed, and reported each time.
            appendId(result, task->orderId);
        } else if (found->second.pagesPrinted > 0 || found->second.count < task->expectedJobs) {
            if (!containsId(result, task->orderId)) appendId(result, task->orderId);
        } else {
            const auto waited = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                                          static_cast<std::uint32_t>(task->time));
            if (waited <= monitorTime) {
                ++task;
                continue;
            }
        }
        task = tasks.erase(task);
    }
    return result.size();
}

std::int32_t calendarSeconds() {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(seconds)));
}
