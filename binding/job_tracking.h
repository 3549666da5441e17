// Print job tracking on the spooler route: which recorded print tasks have
// left the printers' queues or begun printing.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spooler.h"

// Printer names reach the spooler's queries through a 256-byte buffer.
inline constexpr std::size_t kMaxSpoolerName = 255;

// One receipt handed to the spooler that carried an order id.
struct TrackedTask {
    std::int32_t time = 0;       // seconds, low 32 bits of the calendar time
    char orderId[30] = {};       // at most 29 bytes
    char documentName[34] = {};  // at most 33 bytes: the name of the task's jobs
    std::int32_t expectedJobs = 0;
};

inline constexpr std::size_t kMaxTrackedOrderId = sizeof(TrackedTask::orderId) - 1;
inline constexpr std::size_t kMaxTrackedDocumentName = sizeof(TrackedTask::documentName) - 1;

// Builds a record, cutting the texts to their fields.
TrackedTask makeTrackedTask(std::int32_t time, std::string_view orderId, std::string_view documentName,
                            std::int32_t expectedJobs);

struct JobTally {
    int count = 0;
    int totalPages = 0;
    int pagesPrinted = 0;
    std::string name;
};

// Queued jobs of the asked printers by document name, bytes compared.
using JobSnapshot = std::map<std::string, JobTally>;

// What job tracking needs from the spooler; tests stand in for it where the
// spooler cannot show jobs (Wine lists none).
using JobLister = std::function<std::optional<std::vector<platform::QueuedJob>>(const std::string& printer)>;

// «A,,B» gives A, empty, B; «A,» gives A; an empty text gives nothing.
std::vector<std::string> splitOnComma(std::string_view text);

void snapshotPrinterJobs(JobSnapshot& snapshot, const std::string& printer, const JobLister& lister);
void snapshotJobs(const std::vector<std::string>& printers, JobSnapshot& snapshot, const JobLister& lister);

// Walks the tasks in order: one whose jobs have left every queue, begun
// printing or partly left is printed (its order id goes to `result`); one
// whose jobs all still wait unprinted for longer than `monitorTime` seconds
// since its time is dropped; any other stays. Printed and dropped tasks leave
// the list. Gives the length of `result`, where the ids are separated by ","
// and an id is not repeated for a task still in a queue.
std::size_t collectPrintedTasks(std::vector<TrackedTask>& tasks, const JobSnapshot& snapshot, std::string& result,
                                std::int32_t monitorTime, std::int32_t now);

// The calendar time in seconds, low 32 bits.
std::int32_t calendarSeconds();
