// The progress line, through a pseudo-terminal as standard error: shown during a long run,
// erased before the table goes on and when the run ends, and the console and files unchanged.
#include <gtest/gtest.h>

#include <string>

#include "support/run_wave1d.hpp"

namespace {

TEST(ProgressLine, ShownOnATerminalAndErasedBeforeTheTableAndAtTheEnd) {
    const std::string input =
        input_with({{"nx", "100000"}, {"nt", "3000"}, {"every_1D", "1500"}, {"boundtype", "1"}});
    // A slow kernel on one thread, so that the run lasts over a second on any machine.
    run_options options;
    options.environment = {{"WAVE1D_STEP", "sse2:divider"}, {"OMP_NUM_THREADS", "1"}};
    temp_dir plain, dir;
    const run_result without = run_program(plain.path, input, options);
    options.stderr_on_terminal = true;
    const run_result r = run_program(dir.path, input, options);
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::string& terminal = r.err;

    const std::string erase = "\r\033[K";
    const auto first = terminal.find(erase + "wave1d: step ");
    ASSERT_NE(first, std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" of 3000 (", first), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("elapsed, about ", first), std::string::npos) << terminal;
    ASSERT_GE(terminal.size(), erase.size());
    EXPECT_EQ(terminal.substr(terminal.size() - erase.size()), erase) << "erased at the end";
    EXPECT_EQ(terminal.find('\n'), std::string::npos) << "one line, written over itself";

    // The console and the files are those of a run without a terminal.
    EXPECT_EQ(without.err, "");
    EXPECT_EQ(r.out, without.out);
    for (const char* name : {"phi.xl", "phi.xtl"}) {
        EXPECT_TRUE(read_file(dir.path / name) == read_file(plain.path / name)) << name;
    }
}

}  // namespace
