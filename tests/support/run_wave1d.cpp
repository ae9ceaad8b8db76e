#include "support/run_wave1d.hpp"

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "run/input_values.hpp"

namespace fs = std::filesystem;

temp_dir::temp_dir() {
    std::string pattern = (fs::temp_directory_path() / "wave1d-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

run_result run_program(const fs::path& dir, const std::string& input, const run_options& options) {
    const fs::path in_path = dir / ".stdin";
    const fs::path out_path = dir / ".stdout";
    const fs::path err_path = dir / ".stderr";
    {
        std::ofstream in(in_path, std::ios::binary);
        in << input;
    }

    int held_pipe[2] = {-1, -1};
    if (options.stdin_held_open && pipe(held_pipe) != 0) throw std::runtime_error("pipe failed");
    int terminal = -1, terminal_end = -1;
    winsize size{};
    size.ws_col = options.terminal_columns;
    size.ws_row = 24;
    if (options.stderr_on_terminal && openpty(&terminal, &terminal_end, nullptr, nullptr,
                                              options.terminal_columns != 0 ? &size : nullptr) != 0)
        throw std::runtime_error("openpty failed");
    int closed_pipe[2] = {-1, -1};
    if (options.stderr_on_closed_pipe) {
        if (pipe(closed_pipe) != 0) throw std::runtime_error("pipe failed");
        close(closed_pipe[0]);
    }

    std::vector<char*> argv{const_cast<char*>("wave1d")};
    for (const auto& argument : options.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // The child's environment, prepared before the fork: the test's own less the options'
    // variables, then those.
    std::vector<std::string> settings;
    for (const auto& [name, value] : options.environment)
        settings.push_back(name + "=" + value);
    std::vector<char*> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const auto same_name = [&](const std::string& s) {
            return std::string_view(*e).starts_with(s.substr(0, s.find('=') + 1));
        };
        if (std::none_of(settings.begin(), settings.end(), same_name)) environment.push_back(*e);
    }
    for (std::string& setting : settings)
        environment.push_back(setting.data());
    environment.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        if (!options.cgroup_procs.empty()) {
            const std::string pid = std::to_string(getpid()) + "\n";
            const int procs = open(options.cgroup_procs.c_str(), O_WRONLY);
            if (procs < 0 || write(procs, pid.data(), pid.size()) < 0) _exit(125);
            close(procs);
        }
        if (chdir((options.run_in.empty() ? dir : options.run_in).c_str()) != 0) _exit(126);
        const std::string stdout_target =
            options.stdout_path.empty() ? out_path.string() : options.stdout_path;
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            std::signal(signal, SIG_DFL);
        if (options.stdin_held_open) close(held_pipe[1]);
        const std::string stdin_source =
            options.stdin_path.empty() ? in_path.string() : options.stdin_path;
        const int in_fd =
            options.stdin_held_open ? held_pipe[0] : open(stdin_source.c_str(), O_RDONLY);
        const int out_fd = open(stdout_target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = options.stderr_on_terminal ? terminal_end
                           : options.stderr_on_closed_pipe
                               ? closed_pipe[1]
                               : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0) _exit(126);
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        // Only 0, 1 and 2 stay open, so that a descriptor closed below is the lowest free one.
        for (const int fd : {in_fd, out_fd, err_fd, terminal})
            if (fd > 2) close(fd);
        // ulimit -v, -s and -f, as asked.
        const auto limit = [](auto resource, const std::optional<rlim_t>& value) {
            const rlimit both{value.value_or(0), value.value_or(0)};
            return !value || setrlimit(resource, &both) == 0;
        };
        if (!limit(RLIMIT_AS, options.address_space_limit) ||
            !limit(RLIMIT_STACK, options.stack_limit) ||
            !limit(RLIMIT_FSIZE, options.file_size_limit))
            _exit(126);
        for (const int fd : options.closed_descriptors)
            close(fd);
        execve(WAVE1D_EXECUTABLE, argv.data(), environment.data());
        _exit(127);
    }

    // With standard input held open, a child that waits on it is killed after 10 s.
    if (options.stdin_held_open) close(held_pipe[0]);
    if (options.stderr_on_closed_pipe) close(closed_pipe[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    if (options.while_running) options.while_running(child);
    // The terminal is read while the child runs: a terminal nobody reads holds a few KiB, and
    // a slow run (a checked build on a busy machine) would block on its full buffer.
    std::string terminal_bytes;
    const auto read_terminal = [&] {
        char buffer[4096];
        for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;)
            terminal_bytes.append(buffer, static_cast<std::size_t>(n));
    };
    if (options.stderr_on_terminal) fcntl(terminal, F_SETFL, O_NONBLOCK);
    const bool polled = options.stdin_held_open || options.stderr_on_terminal;
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(child, &status, polled ? WNOHANG : 0);
        if (ended == child) break;
        if (ended != 0) continue;
        if (options.stderr_on_terminal) read_terminal();
        if (options.stdin_held_open && std::chrono::steady_clock::now() > deadline)
            kill(child, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (options.stdin_held_open) close(held_pipe[1]);
    run_result result;
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    if (options.stderr_on_terminal) {
        close(terminal_end);
        // What the terminal still holds, then EIO: its other end is closed.
        fcntl(terminal, F_SETFL, 0);
        read_terminal();
        result.err += terminal_bytes;
        close(terminal);
    }
    fs::remove(in_path);
    fs::remove(out_path);
    fs::remove(err_path);
    return result;
}

run_output output_of(const run_result& r, const fs::path& dir) {
    return {r.out, read_file(dir / "phi.xl"), read_file(dir / "phi.xtl")};
}

void expect_same_output(const run_output& got, const run_output& want) {
    EXPECT_TRUE(got.console == want.console) << "the console differs";
    EXPECT_TRUE(got.xl == want.xl) << "phi.xl differs";
    EXPECT_TRUE(got.xtl == want.xtl) << "phi.xtl differs";
}

const std::string dialogue_transcript =
    " The left end of the spatial domain\n\n"
    " The right end of the spatial domain\n\n"
    " Number of points in the spatial domain\n\n"
    " Courant factor\n\n"
    " Number of iterations\n\n"
    " Type of boundary condition\n\n"
    " Aplitude of the gaussian\n\n"
    " Width of the initial gaussian\n\n"
    " Center of the gaussian\n\n"
    " every_1D\n\n"
    " lapsetype\n\n"
    " shifttype\n\n";

std::string input_with(const std::vector<std::pair<std::string_view, std::string>>& changes) {
    std::array<std::string, input_values.size()> values = {"-1", "1",    "8", "0.5", "4", "2",
                                                           "1",  "0.25", "0", "2",   "0", "0"};
    for (const auto& change : changes) {
        // A plain name, not a structured binding: clang before 16 cannot capture one.
        const std::string_view name = change.first;
        const auto named = std::find_if(input_values.begin(), input_values.end(),
                                        [&](const input_value& v) { return v.name == name; });
        if (named == input_values.end()) {
            ADD_FAILURE() << "no input value is named " << name;
            continue;
        }
        values[named - input_values.begin()] = change.second;
    }
    std::string text;
    for (const auto& v : values)
        text += v + "\n";
    return text;
}

const std::string overflowing_run = input_with(
    {{"nx", "16"}, {"courant", "3"}, {"nt", "520"}, {"every_1D", "1"}, {"boundtype", "2"}});

const std::string closing_rule = "  ------------------------------\n";

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

namespace {
const std::string stale_text = "from an earlier run\n";
}

void plant_stale_files(const fs::path& dir) {
    for (const char* name : {"phi.xl", "phi.xtl"}) {
        std::ofstream(dir / name, std::ios::binary) << stale_text;
    }
}

void expect_stale_files_untouched(const fs::path& dir) {
    EXPECT_EQ(read_file(dir / "phi.xl"), stale_text);
    EXPECT_EQ(read_file(dir / "phi.xtl"), stale_text);
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string contents_of(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    return text;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}
