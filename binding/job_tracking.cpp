#include "binding/job_tracking.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "binding/addon_log.h"
#include "binding/driver_printer.h"

namespace binding {

namespace {

using platform::JobState;

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

enum class Verdict { Printed, NotPrinted, Waiting, Progressing };

struct Judgement {
    Verdict verdict = Verdict::Waiting;
    int job = 0;         // the job that decided a NotPrinted verdict
    bool known = true;   // false when that job vanished from a spooler that keeps finished jobs
};

Judgement judge(TrackedTask& task, const std::vector<platform::QueuedJob>& queue, MissingJob missing) {
    bool allCompleted = true;
    bool anyProgress = false;
    for (std::size_t i = 0; i < task.jobIds.size(); ++i) {
        const int id = task.jobIds[i];
        const auto listed = std::find_if(queue.begin(), queue.end(), [&](const auto& job) { return job.id == id; });
        JobState state = JobState::Failed;
        bool known = true;
        if (listed != queue.end()) {
            state = listed->state;
            // A job that has begun printing pages is printing, whatever state word came with it.
            if (state == JobState::Waiting && listed->pagesPrinted > 0) state = JobState::Printing;
        } else if (missing == MissingJob::Left) {
            // Gone from a spooler that forgets: the last word seen decides.
            state = task.lastSeen[i] == JobState::Failed ? JobState::Failed : JobState::Completed;
        } else {
            known = false;
        }
        task.lastSeen[i] = state;
        if (state == JobState::Failed) return {Verdict::NotPrinted, id, known};
        if (state != JobState::Completed) allCompleted = false;
        if (state != JobState::Waiting) anyProgress = true;
    }
    if (allCompleted) return {Verdict::Printed};
    return {anyProgress ? Verdict::Progressing : Verdict::Waiting};
}

}  // namespace

TrackedTask makeTrackedTask(std::int32_t time, std::string orderId, std::string documentName, std::string printer,
                            std::vector<int> jobIds) {
    TrackedTask task;
    task.time = time;
    task.orderId = std::move(orderId);
    task.documentName = std::move(documentName);
    task.printer = std::move(printer);
    task.lastSeen.assign(jobIds.size(), JobState::Waiting);
    task.jobIds = std::move(jobIds);
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
    if (printer.size() > kMaxSpoolerName || snapshot.count(printer) != 0) return;
    if (auto jobs = lister(printer)) snapshot.emplace(printer, std::move(*jobs));
}

void snapshotJobs(const std::vector<std::string>& printers, JobSnapshot& snapshot, const JobLister& lister) {
    snapshot.clear();
    for (const auto& printer : printers) snapshotPrinterJobs(snapshot, printer, lister);
}

std::size_t collectPrintedTasks(std::vector<TrackedTask>& tasks, const JobSnapshot& snapshot, std::string& result,
                                std::int32_t monitorTime, std::int32_t now, MissingJob missing,
                                const std::function<void(const TrackedTask&, int job, bool known)>& notPrinted) {
    for (auto task = tasks.begin(); task != tasks.end();) {
        const auto queue = snapshot.find(task->printer);
        if (queue == snapshot.end()) {
            ++task;
            continue;
        }
        const Judgement judgement = judge(*task, queue->second, missing);
        if (judgement.verdict == Verdict::Printed) {
            if (!containsId(result, task->orderId)) appendId(result, task->orderId);
        } else if (judgement.verdict == Verdict::NotPrinted) {
            if (notPrinted) notPrinted(*task, judgement.job, judgement.known);
        } else {
            const auto waited = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                                          static_cast<std::uint32_t>(task->time));
            if (judgement.verdict == Verdict::Progressing || waited <= monitorTime) {
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

// The tasks DriverPrinter tracks for receipts that carry an order id.
namespace {

constexpr char kTrackedDocumentPrefix[] = "tamq_";
// The longest job name the spooler keeps (an IPP name).
constexpr std::size_t kMaxDocumentName = 255;

}  // namespace

// "tamq_" and the order id (up to the spooler's name length); a name that a
// tracked task already has, or that a task being judged holds, gets a number,
// so that no two tasks count each other's jobs.
std::string DriverPrinter::reserveDocumentName(const std::string& ansiOrderId) {
    std::lock_guard guard(tasksLock_);
    const std::string base = kTrackedDocumentPrefix + ansiOrderId;
    std::string name = base.substr(0, kMaxDocumentName);
    while (namesInUse_.count(name) != 0) {
        std::string suffix(1, '#');
        suffix += std::to_string(++documentSequence_);
        name = base.substr(0, kMaxDocumentName - suffix.size()) + suffix;
    }
    namesInUse_.insert(name);
    return name;
}

std::string DriverPrinter::GetPrintedTasks(const std::string& printerList) {
    std::string result;
    const std::vector<std::string> names = splitOnComma(printerList);
    if (names.empty()) return result;
    // Only tasks recorded before the queues are read are judged by them; a
    // task a worker records meanwhile waits for the next call. The tasks
    // being judged keep their document names reserved.
    std::vector<TrackedTask> tasks;
    {
        std::lock_guard guard(tasksLock_);
        tasks.swap(trackedTasks_);
    }
    std::set<std::string> left;
    for (const auto& task : tasks) left.insert(task.documentName);
    JobSnapshot snapshot;
    snapshotJobs(names, snapshot, queries.jobs);
    collectPrintedTasks(tasks, snapshot, result, monitorTime.load(), queries.clock(),
                        queries.keepsFinishedJobs() ? MissingJob::Unknown : MissingJob::Left,
                        [](const TrackedTask& task, int job, bool known) {
                            if (known) {
                                logLine("print task %s not printed: job %d was cancelled or aborted", task.orderId, job);
                            } else {
                                logLine("print task %s not printed: job %d is unknown to the spooler", task.orderId, job);
                            }
                        });
    for (const auto& task : tasks) left.erase(task.documentName);
    {
        std::lock_guard guard(tasksLock_);
        for (const auto& name : left) namesInUse_.erase(name);
        trackedTasks_.insert(trackedTasks_.begin(), tasks.begin(), tasks.end());
    }
    return result;
}

std::vector<TrackedTask> DriverPrinter::trackedTaskList() const {
    std::lock_guard guard(tasksLock_);
    return trackedTasks_;
}

}  // namespace binding
