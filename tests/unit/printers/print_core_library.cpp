// The add-on's print core as a library of its own, for the exit tests: the
// print queue and its thread, the USB route and the log, as binding.node
// carries them, behind the calls a host program makes in the script
// runtime's place. On Windows it is a DLL, so its exit handlers run as the
// add-on's do there: while it is detached from the ending process.
#include <chrono>
#include <memory>

#include "binding/async_print.h"
#include "binding/driver_printer.h"

using namespace binding;

#ifdef _WIN32
#define PRINT_CORE_EXPORT extern "C" __declspec(dllexport)
#else
#define PRINT_CORE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Never destroyed, as the add-on's printer outlives its script thread.
const std::shared_ptr<DriverPrinter>& printer() {
    static const auto* held = new std::shared_ptr<DriverPrinter>(std::make_shared<DriverPrinter>());
    return *held;
}

}  // namespace

PRINT_CORE_EXPORT void printCoreChooseDevice(const char* name, int writeTimeoutMs) {
    printer()->usbPrinter.setDriver(name);
    printer()->usbPrinter.setWriteTimeout(std::chrono::milliseconds(writeTimeoutMs));
}

// NoDriverPrint's queueing.
PRINT_CORE_EXPORT void printCoreQueue(const char* receipt) {
    queuePrintRequest(std::make_unique<PrintRequest>(PrintRequest{receipt, printer(), printAsync}));
}

// What the runtime's exit notice runs.
PRINT_CORE_EXPORT void printCoreExitNotice() { drainPrintQueueAtExit(); }
