#pragma once

#include <string>

#include "common/exit_statuses.hpp"

// Thrown where a run must stop; the entry point writes the message to standard error and ends
// the process with the status. Each line of the message is written as it stands.
struct run_failure {
    int status;
    std::string message;
    // The system's error number when a write to the console failed, 0 for any other failure:
    // the entry point ends a run whose console pipe was closed as the signal would, and the run
    // driver tells a console write cut short by an interrupt from a broken console.
    int console_error = 0;
};
