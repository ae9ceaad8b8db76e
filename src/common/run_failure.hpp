#pragma once

#include <string>

#include "common/exit_statuses.hpp"

// Thrown where a run must stop; the entry point writes the message to standard error and ends
// the process with the status. Each line of the message is written as it stands.
struct run_failure {
    int status;
    std::string message;
};
