#pragma once

#include <cstdio>
#include <functional>

// What the entry point sets up before anything else, and remembers for the end.
struct process_setup {
    // SIGPIPE had its default disposition when the program started: a console pipe whose reader
    // went away ends the process by that signal, as it would any program.
    bool closed_pipe_ends_process = true;
};

// Run first, before any file is opened:
// - each of the descriptors 0, 1 and 2 that is closed is opened on /dev/null, so that no file
//   the program creates later takes its number (a warning would then land in phi.xl). Each is
//   opened the way that fails as the closed descriptor did: standard input for writing only, so
//   reading it still fails with "Bad file descriptor"; standard output for reading only, so a
//   closed console is still a failed write; standard error for writing, so warnings go nowhere.
// - SIGXFSZ is ignored, so that a write past the file-size limit (ulimit -f) fails with
//   "File too large" and is handled as any failed write, instead of killing the process.
// - SIGPIPE is ignored, so that a write to a closed pipe fails with EPIPE where it happens:
//   standard error is advice only, and its loss never ends or fails a run.
process_setup prepare_process();

// Runs the program's work and returns its exit status: 0 when it returns, and for every
// exception the program's message on err and a non-zero status (run_failure's own, 1 for memory
// exhausted, exit_internal for anything else). A console write that failed on a closed pipe ends
// the process by SIGPIPE instead, when that signal had its default disposition at start.
int run_reported(const process_setup& setup, std::FILE* err, const std::function<void()>& work);
