// The progress line, through a pseudo-terminal as standard error: shown during a long run,
// erased before the table goes on and when the run ends, and the console and files unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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

// What a terminal of the given width shows after these bytes: carriage return, line feed (the
// terminal adds the carriage return), "\033[K" (clear to the end of the row) and printable
// characters, which wrap to the next row at the right edge. Also how many rows were ever written.
struct screen {
    std::vector<std::string> rows{std::string()};
    std::size_t rows_written = 0;
};
screen terminal_after(const std::string& bytes, std::size_t columns) {
    screen s;
    std::size_t row = 0, column = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            ++row, column = 0;
        } else if (bytes.compare(i, 3, "\033[K") == 0) {
            s.rows[row].resize(std::min(s.rows[row].size(), column));
            i += 2;
        } else {
            if (column == columns) ++row, column = 0;
            if (row >= s.rows.size()) s.rows.resize(row + 1);
            std::string& line = s.rows[row];
            if (line.size() <= column) line.resize(column + 1, ' ');
            line[column++] = c;
            s.rows_written = std::max(s.rows_written, row + 1);
        }
        if (row >= s.rows.size()) s.rows.resize(row + 1);
    }
    return s;
}

// On a narrow terminal the line is cut to its width: it never wraps onto a second row, and the
// screen is blank when the run has ended.
TEST(ProgressLine, CutToANarrowTerminalAndNeverWrapped) {
    constexpr unsigned short columns = 40;
    run_options options;
    options.environment = {{"WAVE1D_STEP", "sse2:divider"}, {"OMP_NUM_THREADS", "1"}};
    options.stderr_on_terminal = true;
    options.terminal_columns = columns;
    temp_dir dir;
    const run_result r = run_program(
        dir.path,
        input_with({{"nx", "100000"}, {"nt", "3000"}, {"every_1D", "1500"}, {"boundtype", "1"}}),
        options);
    ASSERT_EQ(r.exit_status, 0) << r.err;
    ASSERT_NE(r.err.find("wave1d: step "), std::string::npos) << "the line was shown";
    const screen shown = terminal_after(r.err, columns);
    EXPECT_EQ(shown.rows_written, 1u) << r.err;
    for (const std::string& row : shown.rows) {
        EXPECT_EQ(row.find_first_not_of(' '), std::string::npos) << "left on the screen: " << row;
    }
}

}  // namespace
