#include <cstdio>
#include <string>

#include "run/program_manual.hpp"

// Writes the manual page wave1d(1) to standard output, for the build and the install. The
// argument names the folder of example inputs that the page shows, as installed.
int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wave1d_manual_page EXAMPLES_FOLDER\n");
        return 2;
    }
    const std::string page = manual_page(argv[1], WAVE1D_VERSION);
    return std::fwrite(page.data(), 1, page.size(), stdout) == page.size() &&
                   std::fflush(stdout) == 0
               ? 0
               : 1;
}
