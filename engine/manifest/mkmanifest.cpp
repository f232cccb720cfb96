// Build tool: writes the installation manifest of a program folder.
#include "InstallManifest.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkmanifest PROGRAM_FOLDER\n");
        return 2;
    }
    int rc = manifest::Write(argv[1]);
    if (rc) std::fprintf(stderr, "mkmanifest: %s: %s\n", argv[1], std::strerror(rc));
    return rc ? 1 : 0;
}
