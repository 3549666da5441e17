// Print job tracking on the spooler route: which recorded print tasks have
// been printed, judged on the spooler's word about each task's own jobs.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spooler.h"

namespace binding {

// Printer names reach the spooler's queries through a 256-byte buffer.
inline constexpr std::size_t kMaxSpoolerName = 255;

// One receipt handed to the spooler that carried an order id.
struct TrackedTask {
    std::int32_t time = 0;     // seconds, low 32 bits of the calendar time
    std::string orderId;       // UTF-8, as the script gave it
    std::string documentName;  // the name of the task's jobs, which no other tracked task uses
    std::string printer;       // the spooler printer the jobs were sent to
    std::vector<int> jobIds;   // one per RAW document the spooler took
    // What was last seen of each job: where the spooler forgets finished
    // jobs, the last word about one that has gone.
    std::vector<platform::JobState> lastSeen;
};

TrackedTask makeTrackedTask(std::int32_t time, std::string orderId, std::string documentName, std::string printer,
                            std::vector<int> jobIds);

// The jobs of each printer whose queue could be read, by printer name.
using JobSnapshot = std::map<std::string, std::vector<platform::QueuedJob>>;

// What job tracking needs from the spooler; tests stand in for it where the
// spooler cannot show jobs (Wine lists none).
using JobLister = std::function<std::optional<std::vector<platform::QueuedJob>>(const std::string& printer)>;

// «A,,B» gives A, empty, B; «A,» gives A; an empty text gives nothing.
std::vector<std::string> splitOnComma(std::string_view text);

// Adds the printer's jobs when its queue can be read; a printer that cannot
// be opened or queried adds nothing, not even an empty queue.
void snapshotPrinterJobs(JobSnapshot& snapshot, const std::string& printer, const JobLister& lister);
void snapshotJobs(const std::vector<std::string>& printers, JobSnapshot& snapshot, const JobLister& lister);

// How the walk treats a job missing from its printer's listing.
enum class MissingJob {
    Unknown,  // the spooler keeps finished jobs: its fate cannot be told
    Left,     // the spooler forgets finished jobs: it left the queue
};

// Walks the tasks in order, judging only those whose printer's queue is in
// the snapshot. A task all of whose jobs completed is printed: its order id
// goes to `result` (once per answer) and it leaves the list. One with a
// cancelled, aborted or unknown job can no longer complete: it leaves the
// list, reported through `notPrinted`. One whose jobs all still wait, none
// printing, for longer than `monitorTime` seconds since its time is dropped.
// Any other stays. Gives the length of `result`, ids separated by ",".
std::size_t collectPrintedTasks(std::vector<TrackedTask>& tasks, const JobSnapshot& snapshot, std::string& result,
                                std::int32_t monitorTime, std::int32_t now, MissingJob missing,
                                const std::function<void(const TrackedTask&, int job, bool known)>& notPrinted);

// The calendar time in seconds, low 32 bits.
std::int32_t calendarSeconds();

}  // namespace binding
