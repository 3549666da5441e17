#include "../entry.h"
#include "../posix_text.h"

int main(int argc, char** argv) {
    platform::posix::recordProgramArguments(argc, argv);
    return programMain();
}
