#pragma once

#include <cstdio>
#include <string>

#include "sweep/forced_step.hpp"

// What the command line asks for: the run, with its values from standard input or from one
// file and with or without norms.tsv, or one of the options that print and exit.
struct program_request {
    enum class kind {
        run,      // no argument, or one FILE
        help,     // --help or -h
        version,  // --version
    };
    kind what = kind::run;
    std::string input_path;  // FILE, or empty for standard input
    bool norms = false;      // --norms: the run also writes norms.tsv
};

// Reads the arguments: --help, -h or --version alone, or a run with at most one FILE and
// --norms before or after it. An unknown option, a second FILE, or --help or --version beside
// another argument throws run_failure with exit_usage and a one-line message, so that the
// program stops at once instead of waiting on standard input.
program_request read_command_line(int argc, const char* const* argv);

// The kernel that the environment's WAVE1D_STEP forces; unset when it is unset or empty. A value
// that names no kernel throws run_failure with exit_usage, naming the value as a bad argument is
// named, and the valid values.
forced_step forced_step_from_environment();

// The help text of program_manual. Throws run_failure with exit_output when out cannot be
// written.
void print_help(std::FILE* out = stdout);

// "wave1d" and the version, on one line.
void print_version(std::FILE* out = stdout);
