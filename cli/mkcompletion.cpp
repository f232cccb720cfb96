// Build tool: writes reelpage-cli's bash completion from its option table.
#include "CliOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkcompletion FILE\n");
        return 2;
    }
    const std::string script = reelpage::cli::BashCompletion();
    std::FILE* f = std::fopen(argv[1], "w");
    const bool written = f && std::fwrite(script.data(), 1, script.size(), f) == script.size();
    const int error = errno;
    if (!f || std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "mkcompletion: %s: %s\n", argv[1],
                     std::strerror(error ? error : errno));
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
