// The print spooler: its printers, RAW documents, queued jobs, a drawn text
// page, and the desktop's windows for a printer. Texts are in the ANSI code
// page, as the spooler takes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/owned_handle.h"

namespace platform {

struct SpoolerPrinter {
    std::string name;
    std::string port;    // on CUPS the device URI
    std::string driver;  // empty when the spooler names none; on CUPS the make and model
};

enum class PrinterListing {
    LocalAndConnected,   // the machine's own queues and connections to shared ones
    RemoteAndConnected,  // shared queues of other machines and connections
};

// The printers of one listing in the spooler's order; empty when the spooler
// cannot be asked or has none.
std::vector<SpoolerPrinter> listPrinters(PrinterListing listing);

// Jobs waiting in the printer's queue; -1 when the printer cannot be opened,
// 0 when its state cannot be read.
int queuedJobCount(const std::string& printer);

// Where a job stands, as far as the spooler tells.
enum class JobState {
    Waiting,    // queued, held, or on a stopped queue
    Printing,
    Completed,  // printed
    Failed,     // cancelled, or aborted by the printer's backend
};

struct QueuedJob {
    int id = 0;
    std::string document;
    int totalPages = 0;
    int pagesPrinted = 0;
    JobState state = JobState::Waiting;
};

// The printer's jobs in queue order: those waiting or printing and, where
// the spooler keeps them, those that have finished; nullopt when the printer
// cannot be opened or queried.
std::optional<std::vector<QueuedJob>> listQueuedJobs(const std::string& printer);

// What the spooler tells of a printer's condition. Several conditions can
// hold at once; none means ready.
struct PrinterConditions {
    bool stateKnown = true;  // false: the printer is there, but its state could not be read
    bool coverOpen = false;
    bool paperOut = false;
    bool error = false;
    bool offline = false;  // stopped, paused or not reachable
    bool paperLow = false;
    bool operator==(const PrinterConditions&) const = default;
};

// The printer's conditions as the spooler knows them now; nullopt when there
// is no such printer, or no spooler to ask (as when it cannot be opened).
std::optional<PrinterConditions> printerConditions(const std::string& printer);

#ifdef _WIN32
// The bits of PRINTER_INFO_2's Status.
PrinterConditions conditionsOfPrinterStatus(std::uint32_t status);
#else
// CUPS printer-state-reasons keywords (with or without their -error,
// -warning or -report suffix) and whether printer-state is stopped.
PrinterConditions conditionsOfCupsState(const std::vector<std::string>& reasons, bool stopped);
#endif

// True where a finished job stays listed with its outcome for a while (CUPS
// keeps its job history), so a job missing from the listing is one whose fate
// is unknown; false where the spooler forgets a job once it has left the
// queue (Windows), printed or deleted alike.
bool spoolerKeepsFinishedJobs();

// One RAW document of one page on a spooler printer. Bytes reach the printer
// unchanged, one write per call.
class RawDocument {
public:
    // Opens the printer and starts the document and its page; isOpen() is
    // false when any step failed, and whatever was opened is released.
    RawDocument(const std::string& printer, const std::string& documentName);
    RawDocument(const RawDocument&) = delete;
    RawDocument& operator=(const RawDocument&) = delete;
    // Ends a document that end() has not ended, and closes the printer.
    ~RawDocument();

    bool isOpen() const { return state_ != nullptr; }
    // The spooler's id of the document's job; 0 when it did not open.
    int jobId() const;
    bool write(const void* data, std::size_t size);
    // Ends the page and the document; the printer stays open until destruction.
    void end();

private:
    struct State;
    State* state_ = nullptr;
};

// The document that driver printing holds open around a receipt's RAW
// documents: a printer device context on Windows, nothing elsewhere.
class WrapperDocument {
public:
    WrapperDocument(const std::string& printer, const std::string& documentName);
    WrapperDocument(const WrapperDocument&) = delete;
    WrapperDocument& operator=(const WrapperDocument&) = delete;
    ~WrapperDocument();

    void endPage();
    void end();

private:
    struct DeleteContext {
        static constexpr std::intptr_t invalid = 0;
        static void close(std::intptr_t context) noexcept;
    };
    OwnedHandle<DeleteContext> context_;
    bool ended_ = false;
};

// One line of a text page: text drawn centred and word-wrapped in a rectangle
// of device units.
struct TextLine {
    std::string text;
    int left = 0, top = 0, right = 0, bottom = 0;
};

// Prints the lines as one page under the document name: drawn by the
// printer's driver on Windows, a plain-text job on CUPS. Results are not
// reported; a wrong printer simply prints nothing.
void printTextPage(const std::string& printer, const std::string& documentName, const std::vector<TextLine>& lines);

enum class PrinterWindow {
    Queue,
    Properties,
};

// Asks the desktop to show the printer's window without waiting for it; true
// when the request was accepted. On Linux these are the printer's pages of
// the local CUPS web interface, opened with xdg-open.
bool openPrinterWindow(const std::string& printer, PrinterWindow window);

}  // namespace platform
