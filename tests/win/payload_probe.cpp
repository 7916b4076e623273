// A minimal setup stub: extracts the archive appended to its own file into
// the folder named on the command line. Exit code 0 when ExtractPayload
// succeeded, 1 when it failed, 2 on a bad command line.
#include <cstdio>
#include <string>

#include "Archive.h"

namespace {
void NoPump() {}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: payload_probe DESTINATION\n");
        return 2;
    }
    InitArchiveModule();
    const bool ok = ExtractPayload(argv[1], NoPump);
    DoneArchiveModule();
    std::printf("payload_probe: %s\n", ok ? "extracted" : "failed");
    return ok ? 0 : 1;
}
