#include "platform/spooler.h"

#include <windows.h>
#include <shellapi.h>
#include <winspool.h>

#include <memory>
#include <vector>

namespace platform {

namespace {

struct LocalFreer {
    void operator()(void* p) const { LocalFree(LocalHandle(p)); }
};
using LocalBuffer = std::unique_ptr<BYTE, LocalFreer>;

std::string textOrEmpty(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

class PrinterHandle {
public:
    explicit PrinterHandle(const std::string& name) {
        std::vector<char> buffer(name.begin(), name.end());
        buffer.push_back('\0');
        if (!OpenPrinterA(buffer.data(), &handle_, nullptr)) handle_ = nullptr;
    }
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;
    ~PrinterHandle() {
        if (handle_ != nullptr) ClosePrinter(handle_);
    }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HANDLE handle_ = nullptr;
};

// Level-2 information of an open printer; empty when it cannot be read.
std::vector<BYTE> printerInfo2(HANDLE printer) {
    DWORD needed = 0;
    if (!GetPrinterA(printer, 2, nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    std::vector<BYTE> buffer(needed);
    if (needed == 0 || !GetPrinterA(printer, 2, buffer.data(), needed, &needed)) return {};
    return buffer;
}

class DeviceContext {
public:
    explicit DeviceContext(const std::string& printer) : dc_(CreateDCA(nullptr, printer.c_str(), nullptr, nullptr)) {}
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;
    ~DeviceContext() {
        if (dc_ != nullptr) DeleteDC(dc_);
    }
    HDC get() const { return dc_; }
    HDC release() {
        HDC dc = dc_;
        dc_ = nullptr;
        return dc;
    }

private:
    HDC dc_;
};

void startGdiDocument(HDC dc, const std::string& documentName) {
    DOCINFOA info{};
    info.cbSize = sizeof(DOCINFOA);  // 20 bytes on the 32-bit system
    info.lpszDocName = documentName.c_str();
    StartDocA(dc, &info);
}

// The status bits of a job still in the queue. A job being deleted was
// cancelled (or its printing failed and it is being removed); one marked
// printed or complete has been handed to the printer whole.
JobState jobState(DWORD status) {
    if ((status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED)) != 0) return JobState::Failed;
    if ((status & (JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE)) != 0) return JobState::Completed;
    if ((status & JOB_STATUS_PRINTING) != 0) return JobState::Printing;
    return JobState::Waiting;
}

}  // namespace

bool spoolerKeepsFinishedJobs() { return false; }

std::vector<SpoolerPrinter> listPrinters(PrinterListing listing) {
    const DWORD flags = listing == PrinterListing::LocalAndConnected
                            ? PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS
                            : PRINTER_ENUM_REMOTE | PRINTER_ENUM_CONNECTIONS;
    char noName[] = "";
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrintersA(flags, noName, 2, nullptr, 0, &needed, &returned);
    LocalBuffer buffer(static_cast<BYTE*>(LocalAlloc(LMEM_ZEROINIT, needed + 4)));
    std::vector<SpoolerPrinter> printers;
    if (!buffer || !EnumPrintersA(flags, noName, 2, buffer.get(), needed, &needed, &returned)) return printers;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.get());
    for (DWORD i = 0; i < returned; ++i) {
        printers.push_back({textOrEmpty(info[i].pPrinterName), textOrEmpty(info[i].pPortName),
                            textOrEmpty(info[i].pDriverName)});
    }
    return printers;
}

int queuedJobCount(const std::string& printer) {
    PrinterHandle handle(printer);
    if (!handle) return -1;
    const std::vector<BYTE> info = printerInfo2(handle.get());
    if (info.empty()) return 0;
    return static_cast<int>(reinterpret_cast<const PRINTER_INFO_2A*>(info.data())->cJobs);
}

std::optional<std::vector<QueuedJob>> listQueuedJobs(const std::string& printer) {
    PrinterHandle handle(printer);
    if (!handle) return std::nullopt;
    const std::vector<BYTE> info = printerInfo2(handle.get());
    if (info.empty()) return std::nullopt;
    const DWORD count = reinterpret_cast<const PRINTER_INFO_2A*>(info.data())->cJobs;
    std::vector<QueuedJob> jobs;
    DWORD needed = 0;
    DWORD returned = 0;
    EnumJobsA(handle.get(), 0, count, 1, nullptr, 0, &needed, &returned);
    if (needed == 0) return jobs;
    std::vector<BYTE> buffer(needed);
    if (!EnumJobsA(handle.get(), 0, count, 1, buffer.data(), needed, &needed, &returned)) return jobs;
    const auto* job = reinterpret_cast<const JOB_INFO_1A*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
        jobs.push_back({static_cast<int>(job[i].JobId), textOrEmpty(job[i].pDocument),
                        static_cast<int>(job[i].TotalPages), static_cast<int>(job[i].PagesPrinted),
                        jobState(job[i].Status)});
    }
    return jobs;
}

PrinterConditions conditionsOfPrinterStatus(std::uint32_t status) {
    const auto any = [status](DWORD bits) { return (status & bits) != 0; };
    PrinterConditions conditions;
    conditions.coverOpen = any(PRINTER_STATUS_DOOR_OPEN);
    conditions.paperOut = any(PRINTER_STATUS_PAPER_OUT);
    conditions.error = any(PRINTER_STATUS_ERROR | PRINTER_STATUS_PAPER_JAM | PRINTER_STATUS_PAPER_PROBLEM |
                           PRINTER_STATUS_USER_INTERVENTION | PRINTER_STATUS_OUTPUT_BIN_FULL);
    conditions.offline = any(PRINTER_STATUS_OFFLINE | PRINTER_STATUS_PAUSED | PRINTER_STATUS_NOT_AVAILABLE);
    return conditions;
}

std::optional<PrinterConditions> printerConditions(const std::string& printer) {
    // An empty name would open the print server itself.
    if (printer.empty()) return std::nullopt;
    PrinterHandle handle(printer);
    if (!handle) return std::nullopt;
    const std::vector<BYTE> info = printerInfo2(handle.get());
    if (info.empty()) {
        PrinterConditions unread;
        unread.stateKnown = false;
        return unread;
    }
    return conditionsOfPrinterStatus(reinterpret_cast<const PRINTER_INFO_2A*>(info.data())->Status);
}

struct RawDocument::State {
    HANDLE printer = nullptr;
    bool documentOpen = false;
    int job = 0;
};

RawDocument::RawDocument(const std::string& printer, const std::string& documentName) {
    std::vector<char> name(printer.begin(), printer.end());
    name.push_back('\0');
    HANDLE handle = nullptr;
    if (!OpenPrinterA(name.data(), &handle, nullptr)) return;
    std::vector<char> document(documentName.begin(), documentName.end());
    document.push_back('\0');
    char dataType[] = "RAW";
    DOC_INFO_1A info{document.data(), nullptr, dataType};
    const DWORD job = StartDocPrinterA(handle, 1, reinterpret_cast<BYTE*>(&info));
    if (job == 0 || !StartPagePrinter(handle)) {
        ClosePrinter(handle);
        return;
    }
    state_ = new State{handle, true, static_cast<int>(job)};
}

RawDocument::~RawDocument() {
    if (state_ == nullptr) return;
    end();
    ClosePrinter(state_->printer);
    delete state_;
}

int RawDocument::jobId() const { return state_ != nullptr ? state_->job : 0; }

bool RawDocument::write(const void* data, std::size_t size) {
    if (state_ == nullptr || !state_->documentOpen) return false;
    DWORD written = 0;
    return WritePrinter(state_->printer, const_cast<void*>(data), static_cast<DWORD>(size), &written) != FALSE;
}

void RawDocument::end() {
    if (state_ == nullptr || !state_->documentOpen) return;
    EndPagePrinter(state_->printer);
    EndDocPrinter(state_->printer);
    state_->documentOpen = false;
}

WrapperDocument::WrapperDocument(const std::string& printer, const std::string& documentName) {
    DeviceContext dc(printer);
    if (dc.get() == nullptr) return;
    startGdiDocument(dc.get(), documentName);
    context_.reset(reinterpret_cast<std::intptr_t>(dc.release()));
}

// The document ends before its context goes.
WrapperDocument::~WrapperDocument() {
    if (context_) end();
}

void WrapperDocument::DeleteContext::close(std::intptr_t context) noexcept { DeleteDC(reinterpret_cast<HDC>(context)); }

void WrapperDocument::endPage() {
    if (context_) EndPage(reinterpret_cast<HDC>(context_.get()));
}

void WrapperDocument::end() {
    if (!context_ || ended_) return;
    EndDoc(reinterpret_cast<HDC>(context_.get()));
    ended_ = true;
}

void printTextPage(const std::string& printer, const std::string& documentName, const std::vector<TextLine>& lines) {
    DeviceContext dc(printer);
    if (dc.get() == nullptr) return;
    startGdiDocument(dc.get(), documentName);
    StartPage(dc.get());
    for (const TextLine& line : lines) {
        RECT rect{line.left, line.top, line.right, line.bottom};
        DrawTextA(dc.get(), line.text.c_str(), static_cast<int>(line.text.size()), &rect, DT_CENTER | DT_WORDBREAK);
    }
    EndPage(dc.get());
    EndDoc(dc.get());
}

bool openPrinterWindow(const std::string& printer, PrinterWindow window) {
    const UINT action = window == PrinterWindow::Queue ? PRINTACTION_OPENNETPRN : PRINTACTION_PROPERTIES;
    return SHInvokePrinterCommandA(nullptr, action, printer.c_str(), nullptr, FALSE) != FALSE;
}

}  // namespace platform
