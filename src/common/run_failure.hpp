#pragma once

#include <string>

// Exit statuses of a run that stops early. A complete run exits with 0.
inline constexpr int exit_memory = 1;    // the grid does not fit in memory
inline constexpr int exit_overflow = 2;  // the grid size does not fit the integer types
inline constexpr int exit_input = 3;     // a value of the dialogue could not be read
inline constexpr int exit_output = 4;    // the console or a profile file could not be written
inline constexpr int exit_usage = 5;     // a command-line argument other than the options

// Thrown where a run must stop; the entry point writes the message to standard error and ends
// the process with the status. Each line of the message is written as it stands.
struct run_failure {
    int status;
    std::string message;
};
