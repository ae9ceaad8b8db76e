// The progress line, through a pseudo-terminal as standard error: shown during a long run,
// erased before the table goes on and when the run ends, and the console and files unchanged.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <cerrno>
#include <fstream>
#include <string>

#include "support/run_wave1d.hpp"

namespace {

namespace fs = std::filesystem;

// Runs wave1d in dir with standard error on a pseudo-terminal; returns what the terminal got.
std::string run_on_terminal(const fs::path& dir, const std::string& input, int& status) {
    std::ofstream(dir / "run.in") << input;
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        const int in = open("run.in", O_RDONLY);
        const int out = open("console", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(126);
        // A slow kernel on one thread, so that the run lasts over a second on any machine.
        setenv("WAVE1D_STEP", "sse2:divider", 1);
        setenv("OMP_NUM_THREADS", "1", 1);
        execl(WAVE1D_EXECUTABLE, "wave1d", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string terminal;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) {
            terminal.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the child has closed the terminal
        }
    }
    close(master);
    waitpid(child, &status, 0);
    return terminal;
}

TEST(ProgressLine, ShownOnATerminalAndErasedBeforeTheTableAndAtTheEnd) {
    const std::string input =
        input_with({{"nx", "100000"}, {"nt", "3000"}, {"every_1D", "1500"}, {"boundtype", "1"}});
    temp_dir dir;
    int status = -1;
    const std::string terminal = run_on_terminal(dir.path, input, status);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << terminal;

    const std::string erase = "\r\033[K";
    const auto first = terminal.find(erase + "wave1d: step ");
    ASSERT_NE(first, std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" of 3000 (", first), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("elapsed, about ", first), std::string::npos) << terminal;
    ASSERT_GE(terminal.size(), erase.size());
    EXPECT_EQ(terminal.substr(terminal.size() - erase.size()), erase) << "erased at the end";
    EXPECT_EQ(terminal.find('\n'), std::string::npos) << "one line, written over itself";

    // The console and the files are those of a run without a terminal.
    temp_dir plain;
    run_options options;
    options.environment = {{"WAVE1D_STEP", "sse2:divider"}, {"OMP_NUM_THREADS", "1"}};
    const run_result r = run_program(plain.path, input, options);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir.path / "console"), r.out);
    for (const char* name : {"phi.xl", "phi.xtl"}) {
        EXPECT_TRUE(read_file(dir.path / name) == read_file(plain.path / name)) << name;
    }
}

}  // namespace
