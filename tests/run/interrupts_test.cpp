// Interrupting a run: end-to-end, a real child process signalled while it runs, with its exit
// status, its message and the files it leaves checked; and in-process, the signal dispositions
// that recording takes over and gives back.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "run/interrupts.hpp"
#include "support/profile_checks.hpp"
#include "support/run_wave1d.hpp"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// A pulse on a power of two of intervals of [-1, 1], so that dt = 1 / intervals is exact and so
// is every time, for as many steps as the counter allows: the run goes on until it is stopped.
std::string endless_run(int intervals, int every_1D) {
    return input_with({{"nx", std::to_string(intervals)},
                       {"nt", "2147483647"},
                       {"every_1D", std::to_string(every_1D)}});
}

constexpr int intervals = 1024;
constexpr std::size_t sampled = intervals / 4 + 1;
constexpr double dt = 1 / 1024.0;

// Waits for the child to end, without collecting it; kills it when it does not end in time, so a
// run that ignores its signal fails the test instead of hanging it.
void expect_ends(pid_t child) {
    siginfo_t info{};
    const bool ended = wait_until(
        [&] {
            info.si_pid = 0;
            return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) ==
                       0 &&
                   info.si_pid == child;
        },
        milliseconds(10000));
    if (!ended) {
        ADD_FAILURE() << "the run did not end after its signal";
        kill(child, SIGKILL);
    }
}

// The time of the last block of phi.xl, as its time line writes it, without leading blanks.
std::string last_block_time(const fs::path& dir) {
    const std::string xl = read_file(dir / "phi.xl");
    const auto at = xl.rfind("#Time = ");
    if (at == std::string::npos) return "";
    const auto start = xl.find_first_not_of(' ', at + 8);
    return xl.substr(start, xl.find('\n', at) - start);
}

// The one line an interrupted run leaves on standard error; files names the files that hold the
// whole output steps. Returns the count of steps taken, whose time is that many steps of dt.
long expect_interrupt_message(const run_result& r, const fs::path& dir, double dt,
                              const std::string& files = "phi.xl and phi.xtl") {
    const std::string head = "wave1d: interrupted at time ";
    const std::string tail =
        "; " + files + " hold the output steps up to time " + last_block_time(dir) + "\n";
    EXPECT_TRUE(r.err.starts_with(head)) << r.err;
    EXPECT_TRUE(r.err.ends_with(tail)) << r.err;
    EXPECT_EQ(count_of(r.err, "\n"), 1u) << r.err;
    const auto after = r.err.find(" after ");
    if (!r.err.starts_with(head) || after == std::string::npos) return -1;
    const long steps = std::strtol(r.err.c_str() + after + 7, nullptr, 10);
    const double time = std::strtod(r.err.c_str() + head.size(), nullptr);
    EXPECT_NEAR(time, steps * dt, steps * dt * 1e-6 + 1e-12) << r.err;
    return steps;
}

// After several output steps, each of which the run wrote out once a second had passed, the
// console holds the rows of the steps the files hold; the interrupt lets the current step finish
// and leaves all three files ending on the same whole output step, the table one row per block.
TEST(Interrupts, RunStoppedAfterSomeOutputStepsKeepsThemWholeInFilesAndTable) {
    temp_dir dir;
    std::size_t blocks_seen = 0;
    run_options watched;
    watched.arguments = {"--norms"};
    watched.while_running = [&](pid_t child) {
        EXPECT_TRUE(wait_until([&] { return profile_blocks(dir.path) >= 3; }, milliseconds(10000)))
            << "no output step reached phi.xl";
        blocks_seen = profile_blocks(dir.path);
        // The console is written out with the files, not only when its buffer fills.
        EXPECT_TRUE(
            wait_until([&] { return table_row_count(read_file(dir.path / ".stdout")) >= 3; },
                       milliseconds(1500)))
            << "the console lags behind the files:\n"
            << read_file(dir.path / ".stdout");
        // norms.tsv is written out before the console: it holds at least the rows shown there.
        const std::size_t rows_shown = table_row_count(read_file(dir.path / ".stdout"));
        EXPECT_GE(norms_rows(dir.path).size(), rows_shown) << "norms.tsv lags behind the console";
        kill(child, SIGINT);
        expect_ends(child);
    };
    const run_result r = run_program(dir.path, endless_run(intervals, 25000), watched);
    EXPECT_EQ(r.exit_status, 130);
    const long steps = expect_interrupt_message(r, dir.path, dt, "phi.xl, phi.xtl and norms.tsv");
    const std::size_t blocks = profile_blocks(dir.path);
    EXPECT_GE(blocks, blocks_seen);
    EXPECT_EQ(steps / 25000 + 1, blocks) << "the run stops at the step it was on";
    EXPECT_EQ(table_row_count(r.out), blocks);
    EXPECT_EQ(norms_rows(dir.path).size(), blocks);
    expect_profile_rules(dir.path, blocks, sampled);
}

// The signal is looked at after every step, not only at output steps: with output steps far
// apart, the run stops long before the next one, with only the output of time zero.
TEST(Interrupts, TermAndHangupStopBetweenStepsWithTheirOwnStatus) {
    constexpr int far_apart = 2000000;
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        temp_dir dir;
        run_options watched;
        watched.while_running = [&](pid_t child) {
            // The block of time zero is written out as soon as it is written, after the handlers
            // are in place.
            EXPECT_TRUE(
                wait_until([&] { return profile_blocks(dir.path) == 1; }, milliseconds(10000)));
            kill(child, signal);
            expect_ends(child);
        };
        const run_result r = run_program(dir.path, endless_run(intervals, far_apart), watched);
        EXPECT_EQ(r.exit_status, 128 + signal);
        const long steps = expect_interrupt_message(r, dir.path, dt);
        EXPECT_GE(steps, 1);
        EXPECT_LT(steps, far_apart);
        EXPECT_EQ(last_block_time(dir.path), "0.000000E+00");
        EXPECT_EQ(table_row_count(r.out), 1u);
        expect_profile_rules(dir.path, 1, sampled);
    }
}

// During the dialogue nothing is recorded: the signal ends the process as it always did, and
// files left by an earlier run stay as they were.
TEST(Interrupts, InterruptDuringTheDialogueEndsAtOnceAndTouchesNoFile) {
    temp_dir dir;
    plant_stale_files(dir.path);
    const fs::path typed = dir.path / "typed";
    ASSERT_EQ(mkfifo(typed.c_str(), 0600), 0);
    run_options typing;
    typing.stdin_path = typed;
    typing.while_running = [&](pid_t child) {
        int fd = -1;
        EXPECT_TRUE(
            wait_until([&] { return (fd = open(typed.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; },
                       milliseconds(10000)));
        const std::string two_values = "-1\n1\n";
        EXPECT_EQ(write(fd, two_values.data(), two_values.size()),
                  static_cast<ssize_t>(two_values.size()));
        EXPECT_TRUE(wait_until(
            [&] {
                return read_file(dir.path / ".stdout").find(" Number of points") !=
                       std::string::npos;
            },
            milliseconds(10000)));
        kill(child, SIGINT);
        expect_ends(child);
        close(fd);
    };
    const run_result r = run_program(dir.path, "", typing);
    EXPECT_EQ(r.exit_status, 130);
    EXPECT_EQ(r.err, "");
    expect_stale_files_untouched(dir.path);
}

// An endless run of 64 intervals with an output step at every step, whose standard output is a
// pipe in dir; reader gets the pipe's reading end, which it closes, and the child once both
// have started.
run_result run_with_console_pipe(const fs::path& dir,
                                 const std::function<void(int fd, pid_t child)>& reader) {
    const fs::path console = dir / "console";
    EXPECT_EQ(mkfifo(console.c_str(), 0600), 0);
    run_options piped;
    piped.stdout_path = console;
    piped.while_running = [&](pid_t child) {
        const int fd = open(console.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0) {
            ADD_FAILURE() << "cannot open the console pipe";
            kill(child, SIGKILL);
            return;
        }
        reader(fd, child);
    };
    return run_program(dir, endless_run(64, 1), piped);
}

// A console pipe whose reader goes away (wave1d < in | head) ends the run as an unhandled
// SIGPIPE would, silently, but only once both files hold every whole output step that was
// buffered: here every step is an output step, so the console's buffer fills long before any
// write-out is due. A console pipe that is open but never read stalls the run in a console write
// once the pipe is full; SIGTERM still stops it within about a second. Either way both files end
// on the same whole output step, and the rows the console did not take are dropped.
TEST(Interrupts, AConsolePipeClosedOrStalledLeavesBothFilesOnTheSameWholeStep) {
    const auto closed = [](int fd, pid_t child) {
        std::string seen;
        EXPECT_TRUE(wait_until(
            [&] {
                char chunk[4096];
                const ssize_t n = read(fd, chunk, sizeof chunk);
                if (n > 0) seen.append(chunk, static_cast<std::size_t>(n));
                return table_row_count(seen) >= 1;
            },
            milliseconds(10000)));
        close(fd);
        expect_ends(child);
    };
    const auto stalled = [](const fs::path& dir, int fd, pid_t child) {
        // The pipe holds a few thousand rows; once it is full the files stop growing too.
        std::uintmax_t size = 0;
        EXPECT_TRUE(wait_until(
            [&] {
                std::this_thread::sleep_for(milliseconds(200));
                const std::uintmax_t now = fs::file_size(dir / "phi.xl");
                return std::exchange(size, now) == now && now > 0;
            },
            milliseconds(10000)))
            << "the run never stalled";
        kill(child, SIGTERM);
        expect_ends(child);
        close(fd);
    };
    for (const int signal : {SIGPIPE, SIGTERM}) {
        SCOPED_TRACE(signal);
        temp_dir dir;
        const run_result r = run_with_console_pipe(dir.path, [&](int fd, pid_t child) {
            signal == SIGPIPE ? closed(fd, child) : stalled(dir.path, fd, child);
        });
        EXPECT_EQ(r.exit_status, 128 + signal);
        if (signal == SIGPIPE) {
            EXPECT_EQ(r.err, "");
        } else {
            expect_interrupt_message(r, dir.path, 1 / 64.0);
        }
        EXPECT_GT(profile_blocks(dir.path), 1u) << "the buffered steps were written out";
        expect_profile_rules(dir.path, profile_blocks(dir.path), 64 / 4 + 1);
    }
}

// In-process: what the program takes over while recording and gives back when the run ends.
int caught[NSIG];
extern "C" void count_signal(int signal) {
    ++caught[signal];
}

TEST(Interrupts, RecordingKeepsIgnoredSignalsAndGivesEveryDispositionBack) {
    struct sigaction counting {};
    counting.sa_handler = count_signal;
    struct sigaction ignoring {};
    ignoring.sa_handler = SIG_IGN;
    struct sigaction before[3];
    sigaction(SIGINT, &counting, &before[0]);
    sigaction(SIGTERM, &counting, &before[1]);
    sigaction(SIGHUP, &ignoring, &before[2]);
    caught[SIGINT] = caught[SIGTERM] = 0;
    {
        interrupt_guard guard;
        record_interrupts(guard);
        EXPECT_EQ(received_interrupt(), 0);
        std::raise(SIGHUP);  // ignored before, so still ignored (nohup)
        EXPECT_EQ(received_interrupt(), 0);
        std::raise(SIGTERM);
        EXPECT_EQ(received_interrupt(), SIGTERM);
        EXPECT_EQ(caught[SIGTERM], 0);
        // The first interrupt put the earlier dispositions back: a second one goes to them.
        std::raise(SIGINT);
        EXPECT_EQ(caught[SIGINT], 1);
        EXPECT_EQ(received_interrupt(), SIGTERM);
    }
    {
        interrupt_guard guard;
        record_interrupts(guard);
        EXPECT_EQ(received_interrupt(), 0) << "a new run starts with nothing recorded";
    }
    // Once the run has ended, the earlier dispositions are in force again.
    std::raise(SIGTERM);
    EXPECT_EQ(caught[SIGTERM], 1);
    struct sigaction now {};
    sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    sigaction(SIGINT, &before[0], nullptr);
    sigaction(SIGTERM, &before[1], nullptr);
    sigaction(SIGHUP, &before[2], nullptr);
}

}  // namespace
