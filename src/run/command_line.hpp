#pragma once

#include <cstdio>

// What the command line asks for. The program reads its values from standard input; the only
// arguments it takes are the options below, one at a time.
enum class program_request {
    run,      // no argument: the dialogue on standard input
    help,     // --help or -h
    version,  // --version
};

// Reads the arguments. Any other argument, or more than one, throws run_failure with exit_usage
// and a one-line message that the values come from standard input, so that the program stops
// at once instead of waiting on standard input.
program_request read_command_line(int argc, const char* const* argv);

// The twelve values with their meanings and choices, what the program writes, the exit
// statuses and an example. Throws run_failure with exit_output when out cannot be written.
void print_help(std::FILE* out = stdout);

// "wave1d" and the version, on one line.
void print_version(std::FILE* out = stdout);
