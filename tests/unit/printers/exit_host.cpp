// Stands in for the script runtime around the print core library:
//   exit_host notice|exit <device name> <write time-out in ms> <receipts> [<big>]
// queues the receipts "<p_s><h1>R<nn>...<p_e><o_s>R<nn><o_e>" (each <big>
// bytes longer), then ends as the runtime can: "notice" gives the
// runtime's exit notice first, "exit" does not; both then end the process as
// the system ends it (ExitProcess on Windows, exit() on Linux).
#include <cstdlib>
#include <string>

#include "platform/process_exit.h"

extern "C" {
void printCoreChooseDevice(const char* name, int writeTimeoutMs);
void printCoreQueue(const char* receipt);
void printCoreExitNotice();
}

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    const std::string ending = argv[1];
    printCoreChooseDevice(argv[2], std::atoi(argv[3]));
    const int receipts = std::atoi(argv[4]);
    const std::size_t big = argc > 5 ? static_cast<std::size_t>(std::atol(argv[5])) : 0;
    const std::string padding(big, 'x');
    for (int i = 0; i < receipts; ++i) {
        const std::string id = (i < 10 ? "R0" : "R") + std::to_string(i);
        printCoreQueue(("<p_s><h1>" + id + padding + "<p_e><o_s>" + id + "<o_e>").c_str());
    }
    if (ending == "notice") printCoreExitNotice();
    platform::exitProcess(0);
}
