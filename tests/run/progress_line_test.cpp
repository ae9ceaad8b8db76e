// The progress line: through a pseudo-terminal as standard error, shown during a long run and
// erased when the run ends, with the console and files unchanged; and its words, in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "run/progress_line.hpp"
#include "support/run_wave1d.hpp"

namespace {

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

// On a terminal of 40 columns the line is shown, cut to the width: it never wraps onto a second
// row, and the screen is blank when the run has ended. The console and the files are those of a
// run without a terminal.
TEST(ProgressLine, ShownOnATerminalCutToItsWidthAndErasedAtTheEnd) {
    const std::string input =
        input_with({{"nx", "100000"}, {"nt", "3000"}, {"every_1D", "1500"}, {"boundtype", "1"}});
    // A slow kernel on one thread, so that the run lasts over a second on any machine.
    run_options options;
    options.environment = {{"WAVE1D_STEP", "sse2:divider"}, {"OMP_NUM_THREADS", "1"}};
    temp_dir plain, dir;
    const run_result without = run_program(plain.path, input, options);
    constexpr unsigned short columns = 40;
    options.stderr_on_terminal = true;
    options.terminal_columns = columns;
    const run_result r = run_program(dir.path, input, options);
    ASSERT_EQ(r.exit_status, 0) << r.err;

    const std::string erase = "\r\033[K";
    const auto first = r.err.find(erase + "wave1d: step ");
    ASSERT_NE(first, std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" of 3000 (", first), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.ends_with(erase)) << "erased at the end";
    const screen shown = terminal_after(r.err, columns);
    EXPECT_EQ(shown.rows_written, 1u) << r.err;
    for (const std::string& row : shown.rows) {
        EXPECT_EQ(row.find_first_not_of(' '), std::string::npos) << "left on the screen: " << row;
    }

    EXPECT_EQ(without.err, "");
    expect_same_output(output_of(r, dir.path), output_of(without, plain.path));
}

// The words of the line, in-process, at the width taken when the terminal's is unknown: half of
// the steps taken in 1.5 s leaves about as long again.
TEST(ProgressLine, ShowsTheStepTheTimeAndAnEstimateOfTheTimeLeft) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        progress_line progress;
        start_progress(progress, file, 3000, 0);
        progress.err = file;  // shown although not a terminal
        show_progress(progress, 1500, 0.015, 1'500'000'000);
    }
    EXPECT_EQ(contents_of(file),
              "\r\033[Kwave1d: step 1500 of 3000 (50%), time 0.015, 1.5 s elapsed, about 1.5 s "
              "left\r\033[K");
    std::fclose(file);
}

}  // namespace
