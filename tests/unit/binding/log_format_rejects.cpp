// Compiled once per case by the build's format checks: case 0 must compile,
// every other case must be refused by the compiler.
#include <string>

#include "binding/addon_log.h"

using namespace binding;

void cases() {
    std::string data = "text from the script";
#if LOG_CASE == 0
    logLine("print");
    logLine("printAsync ret: %d", -3);
    logLine("WritePrintData %s", data);
    logLine("WriteFile ret:%d, Written: %d", true, 6u);
#elif LOG_CASE == 1
    logLine(data);  // text from outside as the format
#elif LOG_CASE == 2
    logLine("WritePrintData %d", data);  // text for an integer conversion
#elif LOG_CASE == 3
    logLine("printAsync ret: %s", -3);  // an integer for a text conversion
#elif LOG_CASE == 4
    logLine("WriteFile ret:%d, Written: %d", 1);  // a conversion without argument
#elif LOG_CASE == 5
    logLine("print", data);  // an argument without conversion
#elif LOG_CASE == 6
    logLine("ratio %f", 1.5);  // a conversion the log does not know
#elif LOG_CASE == 7
    logLine("WritePrintData %n", data);  // writing through the format
#endif
}
