#pragma once

#include <cstdint>
#include <cstdio>

// A line on a terminal that shows how far a long run has come: the step of nt with the
// percentage, the simulation time, the time elapsed and an estimate of the time left, written
// over itself about twice a second, cut to the terminal's width so that it never wraps. Only
// when err is a terminal; otherwise nothing is ever written. The line is erased before anything else reaches the terminal (erase_progress) and
// when the record is destroyed, also when a failure unwinds the run. Allocates nothing.
struct progress_line {
    std::FILE* err = nullptr;  // null: no terminal, nothing is shown
    std::int32_t nt = 0;
    std::int64_t start_ns = 0;  // clock readings in nanoseconds of the steady clock
    std::int64_t next_ns = 0;   // the line is written anew at the first step from here on
    bool shown = false;         // whether the line is on the terminal now

    progress_line() = default;
    progress_line(const progress_line&) = delete;
    progress_line& operator=(const progress_line&) = delete;
    ~progress_line();
};

// Starts the record for a run of nt steps whose loop starts at clock reading now_ns.
void start_progress(progress_line& progress, std::FILE* err, std::int32_t nt, std::int64_t now_ns);

// Whether the record wants a clock reading after each step (err is a terminal).
inline bool progress_wanted(const progress_line& progress) {
    return progress.err != nullptr;
}

// After step `step` at simulation time `time`, with the clock reading now_ns: rewrites the line
// when half a second has passed since it was last written.
void show_progress(progress_line& progress, std::int32_t step, double time, std::int64_t now_ns);

// Erases the line, if it is shown, so that a table row or a warning can follow.
void erase_progress(progress_line& progress);
