#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

#include "common/run_failure.hpp"
#include "run/command_line.hpp"
#include "run/parameter_input.hpp"
#include "run/process_setup.hpp"
#include "run/run_driver.hpp"

namespace {

// The input file of `wave1d FILE`, opened before anything else happens, so that a file that
// cannot be read stops the run before any file is touched.
std::ifstream open_input(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw run_failure{exit_input,
                          "wave1d: cannot open " + ::quoted(path) + ": " + std::strerror(EISDIR)};
    }
    errno = 0;
    std::ifstream in(path);
    if (!in) {
        throw run_failure{exit_input, "wave1d: cannot open " + ::quoted(path) + ": " +
                                          std::strerror(errno != 0 ? errno : EIO)};
    }
    return in;
}

}  // namespace

// wave1d: evolves the one-dimensional wave equation from twelve values read on standard input
// or from one file. Exit status 0 after a complete run or an option; the statuses of
// exit_statuses.hpp after a failure, whose message goes to standard error.
int main(int argc, char** argv) {
    const process_setup setup = prepare_process();
    return run_reported(setup, stderr, [&] {
        const program_request request = read_command_line(argc, argv);
        switch (request.what) {
            case program_request::kind::help:
                print_help();
                return;
            case program_request::kind::version:
                print_version();
                return;
            case program_request::kind::run:
                break;
        }
        if (request.input_path.empty()) {
            run_wave1d(std::cin, stdout, stderr, request.norms);
        } else {
            std::ifstream in = open_input(request.input_path);
            run_wave1d(in, stdout, stderr, request.norms);
        }
    });
}
