#include <cstdio>
#include <new>

#include "common/run_failure.hpp"
#include "run/command_line.hpp"
#include "run/run_driver.hpp"

// wave1d: evolves the one-dimensional wave equation from twelve values read on standard input.
// The only arguments are --help, -h and --version. Exit status 0 after a complete run or an
// option; the statuses of run_failure.hpp after a failure, whose message goes to standard error.
int main(int argc, char** argv) {
    try {
        switch (read_command_line(argc, argv)) {
            case program_request::help:
                print_help();
                return 0;
            case program_request::version:
                print_version();
                return 0;
            case program_request::run:
                break;
        }
        run_wave1d();
        return 0;
    } catch (const run_failure& failure) {
        std::fprintf(stderr, "%s\n", failure.message.c_str());
        return failure.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "wave1d: out of memory\nAllocation would exceed memory limit\n");
        return exit_memory;
    }
}
