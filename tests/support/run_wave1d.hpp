#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Whether this build checks addresses; GCC announces AddressSanitizer with a macro, clang through
// __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define WAVE1D_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WAVE1D_ADDRESS_SANITIZER 1
#endif
#endif

// A fresh directory under the system's temporary folder, removed with everything in it.
struct temp_dir {
    std::filesystem::path path;
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
};

struct run_options {
    // Where the program's standard output goes; empty means it is captured.
    std::string stdout_path;
    // An address-space limit (ulimit -v) for the child, in bytes.
    std::optional<rlim_t> address_space_limit;
    // A stack-size limit (ulimit -s) for the child, in bytes: also the size of each new thread's
    // stack.
    std::optional<rlim_t> stack_limit;
    // Command-line arguments after the program name.
    std::vector<std::string> arguments;
    // Standard input is a pipe that stays open and empty, as a terminal nobody types at, instead
    // of the input text; a child still running after 10 s is killed (status 128 + 9).
    bool stdin_held_open = false;
    // Where the program's standard input comes from; empty means the input text.
    std::string stdin_path;
    // Called with the child's process id once it has started, before it is waited for.
    std::function<void(pid_t)> while_running;
    // Environment variables set for the child (name, value), on top of the test's own.
    std::vector<std::pair<std::string, std::string>> environment;
    // Standard error is a pseudo-terminal, whose bytes become the result's err.
    bool stderr_on_terminal = false;
    // The width of that terminal, in columns (0: the pseudo-terminal's default).
    unsigned short terminal_columns = 0;
    // Standard error is a pipe whose reading end is already closed.
    bool stderr_on_closed_pipe = false;
    // Descriptors among 0, 1 and 2 that the child has closed when the program starts.
    std::vector<int> closed_descriptors;
    // A file-size limit (ulimit -f) for the child, in bytes.
    std::optional<rlim_t> file_size_limit;
    // The control-group file (cgroup.procs) the child writes its process id into before it
    // starts the program, to run inside that group.
    std::string cgroup_procs;
    // The folder the program runs in, when not dir itself; dir then holds only the scratch
    // files of standard input, output and error.
    std::filesystem::path run_in;
};

struct run_result {
    int exit_status = -1;  // the exit status, or 128 + the signal that ended the child
    std::string out;       // captured standard output
    std::string err;       // captured standard error
};

// Runs the built wave1d as a child process in dir, with input as its standard input. The child
// starts with the default dispositions of SIGINT, SIGTERM, SIGHUP and SIGPIPE, whatever the test
// runner's are (a runner started in the background ignores SIGINT).
run_result run_program(const std::filesystem::path& dir, const std::string& input,
                       const run_options& options = {});

// What a run leaves its user: the console and both profile files in its folder.
struct run_output {
    std::string console, xl, xtl;
};
run_output output_of(const run_result& r, const std::filesystem::path& dir);

// Expects got to be want byte for byte, naming the part that differs without printing it (the
// parts can be long).
void expect_same_output(const run_output& got, const run_output& want);

// What the console shows of a whole dialogue: each of the twelve prompts and its empty line.
extern const std::string dialogue_transcript;

// The twelve input lines of a small run, each ended by a line feed, in dialogue order: a pulse
// of width 0.25 on eight intervals of [-1, 1], outgoing boundaries, Courant factor 0.5, four
// steps with output every second step, lapse 1, no shift. Each change replaces the value of
// the field it names (as the dialogue names it: "nx", "every_1D", ...).
// Later changes of the same field win.
std::string input_with(const std::vector<std::pair<std::string_view, std::string>>& changes = {});

// A run whose phi overflows to Infinity and then NaN, and so warns while it runs: 16 intervals,
// Courant factor 3, 520 steps, each an output step (521 table rows of 5 sampled points).
extern const std::string overflowing_run;

// The rule that closes the table of a complete run.
extern const std::string closing_rule;

// Polls every few milliseconds until done() holds; false when limit passes first.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Profile files left from an earlier run, and the check that a run left them as they were.
void plant_stale_files(const std::filesystem::path& dir);
void expect_stale_files_untouched(const std::filesystem::path& dir);

// The whole contents of a file; empty when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// The whole contents of an open file, read from its start.
std::string contents_of(std::FILE* file);

// Splits text into lines at line feeds; a final line feed does not start another line.
std::vector<std::string> split_lines(const std::string& text);
