#pragma once

#include <array>
#include <string_view>

// Exit statuses of a run that stops early. A complete run exits with 0.
inline constexpr int exit_memory = 1;    // the grid does not fit in memory
inline constexpr int exit_overflow = 2;  // the grid size does not fit the integer types
inline constexpr int exit_input = 3;     // the input could not be opened or a value not read
inline constexpr int exit_output = 4;    // the console or an output file could not be written
inline constexpr int exit_usage = 5;     // a command line or WAVE1D_STEP that is not understood
inline constexpr int exit_internal = 6;  // a failure the program has no message of its own for

// Every exit status with its meaning, as --help and the manual page list them.
struct exit_status_entry {
    std::string_view status;
    std::string_view meaning;
};
inline constexpr std::array<exit_status_entry, 8> exit_statuses{{
    {"0", "complete run"},
    {"1", "the grid does not fit in memory"},
    {"2", "nx too large to compute the grid's size (2147483647)"},
    {"3", "the input file could not be opened, or a value could not be read"},
    {"4", "standard output, a profile file or norms.tsv could not be created or written"},
    {"5",
     "an argument that is not an option or an input file, a second input file, --help or "
     "--version beside another argument, or a WAVE1D_STEP that is not understood"},
    {"6", "an unexpected failure inside the program, named in its message"},
    {"129, 130, 143",
     "interrupted by SIGHUP, SIGINT, SIGTERM during the run; the files hold "
     "the whole output steps up to then"},
}};
