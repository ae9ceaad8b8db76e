#pragma once

#include <cstdio>
#include <iostream>

// The whole run: the dialogue on in/out, the grid, the initial data, the progress table on out,
// the time loop with its output steps, and the two profile files in the current directory;
// with_norms adds norms.tsv there, the norms of the fields at every output time.
// Warnings about a run that cannot be trusted go to err (run_warnings.hpp). Returns normally
// after a complete run; throws run_failure where a run must stop.
void run_wave1d(std::istream& in = std::cin, std::FILE* out = stdout, std::FILE* err = stderr,
                bool with_norms = false);
