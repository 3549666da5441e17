// md5FileHex of one file, for timing beside md5sum as a process of its own:
//   md5_file_bench FILE   prints the digest as md5sum does
#include <cstdio>
#include <string>

#include "updater/md5.h"

using namespace updater;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    const std::string digest = md5FileHex(argv[1]);
    std::printf("%s  %s\n", digest.c_str(), argv[1]);
    return digest.size() == 32 ? 0 : 1;
}
