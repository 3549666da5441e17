#include "platform/entry.h"
#include "platform/posix/text.h"

int main(int argc, char** argv) {
    platform::posix::recordProgramArguments(argc, argv);
    return programMain();
}
