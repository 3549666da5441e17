// Prints one receipt on a USB printer in a process whose add-on log lies
// beside its executable, for the tests that read the log:
//   usb_print_helper <device name> <receipt> [write time-out in ms]
// Writes WritePrintData's result code to standard output.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "binding/usb_printer.h"

using namespace binding;

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    UsbPrinter printer;
    printer.setDriver(argv[1]);
    if (argc > 3) printer.setWriteTimeout(std::chrono::milliseconds(std::atoi(argv[3])));
    std::printf("%d\n", printer.WritePrintData(argv[2]));
    return 0;
}
