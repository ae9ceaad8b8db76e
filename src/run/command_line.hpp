#pragma once

#include <cstdio>
#include <string>

// What the command line asks for: the run, with its values from standard input or from one
// file, or one of the options.
struct program_request {
    enum class kind {
        run,      // no argument, or one FILE
        help,     // --help or -h
        version,  // --version
    };
    kind what = kind::run;
    std::string input_path;  // FILE, or empty for standard input
};

// Reads the arguments. An unknown option, or more than one argument, throws run_failure with
// exit_usage and a one-line message, so that the program stops at once instead of waiting on
// standard input.
program_request read_command_line(int argc, const char* const* argv);

// The help text of program_manual. Throws run_failure with exit_output when out cannot be
// written.
void print_help(std::FILE* out = stdout);

// "wave1d" and the version, on one line.
void print_version(std::FILE* out = stdout);
