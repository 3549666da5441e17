// The spooler on Linux is CUPS, reached through libcups on the calling
// thread's default connection (CUPS_SERVER and client.conf choose the server).
// CUPS speaks UTF-8; names cross into and out of it converted from and to the
// ANSI code page, which the spooler interface speaks on both systems.
#include "platform/spooler.h"

#include "platform/codepage.h"
#include "platform/posix/text.h"
#include "platform/shell.h"

#include <cups/cups.h>

#include <cstdlib>
#include <iterator>
#include <memory>
#include <string_view>

namespace platform {

namespace {

struct DestsFreer {
    int count = 0;
    void operator()(cups_dest_t* dests) const { cupsFreeDests(count, dests); }
};

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using IppMessage = std::unique_ptr<ipp_t, IppDeleter>;

std::string toCups(const std::string& ansi) { return posix::toUtf8(codePageToWide(kAnsiCodePage, ansi)); }

std::string fromCups(const char* utf8) {
    return utf8 != nullptr ? wideToCodePage(kAnsiCodePage, posix::fromUtf8(utf8)) : std::string();
}

std::string percentEncoded(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// What "opening the printer" means on CUPS: the server knows the queue.
bool queueExists(const std::string& queue) {
    if (queue.empty()) return false;
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.c_str(), nullptr);
    if (dest == nullptr) return false;
    cupsFreeDests(1, dest);
    return true;
}

std::string option(const cups_dest_t& dest, const char* name) {
    return fromCups(cupsGetOption(name, dest.num_options, dest.options));
}

// A job with one document on a queue (named as CUPS names it); 0 when the
// queue or the job could not be had.
int startJob(const std::string& queue, const std::string& title, const char* format) {
    if (!queueExists(queue)) return 0;
    const std::string name = toCups(title);
    const int job = cupsCreateJob(CUPS_HTTP_DEFAULT, queue.c_str(), name.c_str(), 0, nullptr);
    if (job == 0) return 0;
    if (cupsStartDocument(CUPS_HTTP_DEFAULT, queue.c_str(), job, name.c_str(), format, 1) != HTTP_STATUS_CONTINUE) {
        cupsCancelJob2(CUPS_HTTP_DEFAULT, queue.c_str(), job, 0);
        return 0;
    }
    return job;
}

bool writeJobData(const void* data, std::size_t size) {
    // A write of no bytes would end the chunked upload early.
    if (size == 0) return true;
    return cupsWriteRequestData(CUPS_HTTP_DEFAULT, static_cast<const char*>(data), size) == HTTP_STATUS_CONTINUE;
}

int attributeInteger(ipp_attribute_t* attribute) {
    const ipp_tag_t tag = ippGetValueTag(attribute);
    return tag == IPP_TAG_INTEGER || tag == IPP_TAG_ENUM ? ippGetInteger(attribute, 0) : 0;
}

JobState jobState(int ippState) {
    switch (ippState) {
    case IPP_JSTATE_PROCESSING: return JobState::Printing;
    case IPP_JSTATE_COMPLETED: return JobState::Completed;
    case IPP_JSTATE_CANCELED:
    case IPP_JSTATE_ABORTED: return JobState::Failed;
    default: return JobState::Waiting;  // pending, held, stopped
    }
}

}  // namespace

bool spoolerKeepsFinishedJobs() { return true; }

std::vector<SpoolerPrinter> listPrinters(PrinterListing listing) {
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    std::unique_ptr<cups_dest_t, DestsFreer> owner(dests, DestsFreer{count});
    std::vector<SpoolerPrinter> printers;
    for (int i = 0; i < count; ++i) {
        const cups_dest_t& dest = dests[i];
        if (dest.instance != nullptr) continue;  // saved option sets, not printers
        // Queues of other servers are the connections; they appear in both listings.
        const std::string type = option(dest, "printer-type");
        const bool remote = (std::strtoul(type.c_str(), nullptr, 10) & CUPS_PRINTER_REMOTE) != 0;
        if (listing == PrinterListing::RemoteAndConnected && !remote) continue;
        printers.push_back({fromCups(dest.name), option(dest, "device-uri"), option(dest, "printer-make-and-model")});
    }
    return printers;
}

int queuedJobCount(const std::string& printer) {
    const std::string queue = toCups(printer);
    if (!queueExists(queue)) return -1;
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ACTIVE);
    if (count < 0) return 0;
    cupsFreeJobs(count, jobs);
    return count;
}

std::optional<std::vector<QueuedJob>> listQueuedJobs(const std::string& printer) {
    const std::string queue = toCups(printer);
    if (!queueExists(queue)) return std::nullopt;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    const std::string uri = "ipp://localhost/printers/" + percentEncoded(queue);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    // Finished jobs too: their state tells printed from cancelled or aborted.
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    static const char* const wanted[] = {"job-id", "job-name", "job-state", "job-impressions",
                                         "job-impressions-completed", "job-media-sheets-completed"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(wanted)), nullptr, wanted);
    // cupsDoRequest takes the request and frees it.
    IppMessage response(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    if (!response || ippGetStatusCode(response.get()) > IPP_STATUS_OK_CONFLICTING) return std::nullopt;

    std::vector<QueuedJob> jobs;
    ipp_attribute_t* attribute = ippFirstAttribute(response.get());
    while (attribute != nullptr) {
        while (attribute != nullptr && ippGetGroupTag(attribute) != IPP_TAG_JOB)
            attribute = ippNextAttribute(response.get());
        if (attribute == nullptr) break;
        QueuedJob job;
        int sheets = 0;
        for (; attribute != nullptr && ippGetGroupTag(attribute) == IPP_TAG_JOB;
             attribute = ippNextAttribute(response.get())) {
            const std::string name = ippGetName(attribute) != nullptr ? ippGetName(attribute) : "";
            if (name == "job-id") {
                job.id = attributeInteger(attribute);
            } else if (name == "job-state") {
                job.state = jobState(attributeInteger(attribute));
            } else if (name == "job-name") {
                job.document = fromCups(ippGetString(attribute, 0, nullptr));
            } else if (name == "job-impressions") {
                job.totalPages = attributeInteger(attribute);
            } else if (name == "job-impressions-completed") {
                job.pagesPrinted = attributeInteger(attribute);
            } else if (name == "job-media-sheets-completed") {
                sheets = attributeInteger(attribute);
            }
        }
        // Backends report progress as sheets; impressions follow them only for some formats.
        if (job.pagesPrinted <= 0) job.pagesPrinted = sheets;
        jobs.push_back(std::move(job));
    }
    return jobs;
}

PrinterConditions conditionsOfCupsState(const std::vector<std::string>& reasons, bool stopped) {
    PrinterConditions conditions;
    conditions.offline = stopped;
    for (const std::string& reason : reasons) {
        std::string_view keyword = reason;
        bool errorLevel = false;
        for (const std::string_view suffix : {"-error", "-warning", "-report"}) {
            if (keyword.size() > suffix.size() && keyword.ends_with(suffix)) {
                errorLevel = suffix == "-error";
                keyword.remove_suffix(suffix.size());
                break;
            }
        }
        if (keyword == "door-open" || keyword == "cover-open") {
            conditions.coverOpen = true;
        } else if (keyword == "media-empty" || keyword == "media-needed") {
            conditions.paperOut = true;
        } else if (keyword == "media-jam") {
            conditions.error = true;
        } else if (keyword == "offline") {
            conditions.offline = true;
        } else if (keyword == "media-low") {
            conditions.paperLow = true;
        } else if (errorLevel) {
            conditions.error = true;
        }
        // Anything else informs (cupsd's own "paused" comes with the stopped state).
    }
    return conditions;
}

std::optional<PrinterConditions> printerConditions(const std::string& printer) {
    const std::string queue = toCups(printer);
    if (queue.empty()) return std::nullopt;
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    const std::string uri = "ipp://localhost/printers/" + percentEncoded(queue);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char* const wanted[] = {"printer-state", "printer-state-reasons"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(wanted)), nullptr, wanted);
    IppMessage response(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    // No scheduler to ask is as Windows without its spooler: nothing opens.
    if (!response || ippGetStatusCode(response.get()) == IPP_STATUS_ERROR_NOT_FOUND) return std::nullopt;
    ipp_attribute_t* state = ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM);
    if (ippGetStatusCode(response.get()) > IPP_STATUS_OK_CONFLICTING || state == nullptr) {
        PrinterConditions unread;
        unread.stateKnown = false;
        return unread;
    }
    std::vector<std::string> reasons;
    ipp_attribute_t* listed = ippFindAttribute(response.get(), "printer-state-reasons", IPP_TAG_KEYWORD);
    for (int i = 0; i < ippGetCount(listed); ++i) {
        if (const char* reason = ippGetString(listed, i, nullptr)) reasons.emplace_back(reason);
    }
    return conditionsOfCupsState(reasons, ippGetInteger(state, 0) == IPP_PSTATE_STOPPED);
}

struct RawDocument::State {
    std::string queue;
    int job = 0;
    bool documentOpen = false;
};

RawDocument::RawDocument(const std::string& printer, const std::string& documentName) {
    const std::string queue = toCups(printer);
    const int job = startJob(queue, documentName, CUPS_FORMAT_RAW);
    if (job != 0) state_ = new State{queue, job, true};
}

RawDocument::~RawDocument() {
    if (state_ == nullptr) return;
    end();
    delete state_;
}

int RawDocument::jobId() const { return state_ != nullptr ? state_->job : 0; }

bool RawDocument::write(const void* data, std::size_t size) {
    if (state_ == nullptr || !state_->documentOpen) return false;
    return writeJobData(data, size);
}

void RawDocument::end() {
    if (state_ == nullptr || !state_->documentOpen) return;
    cupsFinishDocument(CUPS_HTTP_DEFAULT, state_->queue.c_str());
    state_->documentOpen = false;
}

// CUPS has no device context; the receipt's RAW jobs stand on their own.
WrapperDocument::WrapperDocument(const std::string&, const std::string&) {}
WrapperDocument::~WrapperDocument() = default;
void WrapperDocument::DeleteContext::close(std::intptr_t) noexcept {}
void WrapperDocument::endPage() {}
void WrapperDocument::end() { ended_ = true; }

void printTextPage(const std::string& printer, const std::string& documentName, const std::vector<TextLine>& lines) {
    const std::string queue = toCups(printer);
    if (startJob(queue, documentName, CUPS_FORMAT_TEXT) == 0) return;
    for (const TextLine& line : lines) {
        writeJobData(line.text.data(), line.text.size());
        writeJobData("\n", 1);
    }
    cupsFinishDocument(CUPS_HTTP_DEFAULT, queue.c_str());
}

bool openPrinterWindow(const std::string& printer, PrinterWindow window) {
    // The name comes from the script unconverted, as the shell takes it.
    const std::string& queue = printer;
    if (!queueExists(queue)) return false;
    const std::string site = "http://localhost:" + std::to_string(ippPort());
    const std::string url = window == PrinterWindow::Queue
                                ? site + "/printers/" + percentEncoded(queue)
                                : site + "/admin/?op=set-printer-options&printer_name=" + percentEncoded(queue);
    return shellOpen(url);
}

}  // namespace platform
