// End-to-end runs of the built program: a child process in a temporary directory, fed on its
// standard input, with its console, its files and its exit status checked.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_wave1d.hpp"

namespace {

namespace fs = std::filesystem;

struct input {
    std::string xmin = "-1", xmax = "1", nx = "8", courant = "0.5", nt = "4", boundtype = "2",
                amplitude = "1", width = "0.25", center = "0", every_1D = "2", lapsetype = "0",
                shifttype = "0";
    std::string text() const {
        return input_lines({xmin, xmax, nx, courant, nt, boundtype, amplitude, width, center,
                            every_1D, lapsetype, shifttype});
    }
};

const std::string header =
    "  -------------------------------\n"
    "  |     Time     |  Maxval(phi) |\n"
    "  -------------------------------\n";

// The table rows of a console transcript: 32 characters, starting with "  |  ".
std::vector<std::string> table_rows(const std::string& console) {
    std::vector<std::string> rows;
    for (const auto& line : split_lines(console)) {
        if (line.size() == 32 && line.rfind("  |  ", 0) == 0) rows.push_back(line);
    }
    return rows;
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(Program, CompleteRunConsoleAndFiles) {
    temp_dir dir;
    const run_result r = run_program(dir.path, input{}.text());
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, dialogue_transcript +
                         " xmin= -1\n xmax= 1\n center= 0\n dx= 0.25\n dt= 0.125\n courant= 0.5\n" +
                         header +
                         "  |   0.00E+00    |  1.00E+00  |\n"
                         "  |   2.50E-01    |  6.58E-01  |\n"
                         "  |   5.00E-01    |  5.19E-01  |\n"
                         "  ------------------------------\n");
    const std::string xl = read_file(dir.path / "phi.xl");
    EXPECT_EQ(count_of(xl, "#Time = "), 3u);
    EXPECT_EQ(xl.substr(0, 23), "#Time =   0.000000E+00\n");
    EXPECT_NE(xl.find("#Time =   5.000000E-01\n"), std::string::npos);
    // nx = 8: points 0, 4 and 8 are sampled, the last one included.
    EXPECT_EQ(split_lines(xl).size(), 3u * 6);
    const auto xtl = split_lines(read_file(dir.path / "phi.xtl"));
    EXPECT_EQ(xtl.front().substr(0, 16), "  2.50000000E-01");
    EXPECT_EQ(xtl.back(), "");
}

TEST(Program, OutputIntervals) {
    struct interval {
        std::string nt, every_1D;
        std::size_t rows;
    };
    // every_1D of 0 writes nothing after time zero; a negative one acts as its magnitude; one
    // larger than nt writes only time zero; nt of 0 or less takes no step.
    for (const interval& c :
         {interval{"5", "1", 6}, interval{"5", "0", 1}, interval{"6", "-3", 3},
          interval{"5", "9", 1}, interval{"0", "1", 1}, interval{"-7", "1", 1}}) {
        temp_dir dir;
        input in;
        in.nt = c.nt;
        in.every_1D = c.every_1D;
        const run_result r = run_program(dir.path, in.text());
        ASSERT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(table_rows(r.out).size(), c.rows) << c.nt << " " << c.every_1D;
        EXPECT_EQ(table_rows(r.out).front(), "  |   0.00E+00    |  1.00E+00  |");
        EXPECT_EQ(count_of(read_file(dir.path / "phi.xl"), "#Time"), c.rows);
        if (c.rows == 1) {
            EXPECT_EQ(read_file(dir.path / "phi.xtl"), "");
        }
        EXPECT_EQ(split_lines(r.out).back(), "  ------------------------------");
    }
}

TEST(Program, OddGridsCompleteWithTheOutputRulesForNonFiniteValues) {
    struct grid {
        std::string nx, xmax, width, boundtype;
        std::size_t sampled;
    };
    for (const grid& g : {grid{"10", "1", "0.25", "1", 3}, grid{"0", "1", "0.25", "2", 1},
                          grid{"-3", "1", "0.25", "1", 0}, grid{"4", "-1", "0", "2", 2},
                          grid{"2", "1", "0.25", "2", 1}}) {
        temp_dir dir;
        input in;
        in.nx = g.nx;
        in.xmax = g.xmax;
        in.width = g.width;
        in.boundtype = g.boundtype;
        const run_result r = run_program(dir.path, in.text());
        ASSERT_EQ(r.exit_status, 0) << "nx " << g.nx << ": " << r.err;
        const auto xl = split_lines(read_file(dir.path / "phi.xl"));
        EXPECT_EQ(xl.size(), 3 * (g.sampled + 3)) << "nx " << g.nx;
    }

    temp_dir dir;
    input empty;
    empty.nx = "-3";
    const run_result r = run_program(dir.path, empty.text());
    EXPECT_EQ(table_rows(r.out).front(), "  |   0.00E+00    | -1.80+308  |");
    EXPECT_NE(r.out.find(" dx= -0.6666666666666666\n"), std::string::npos) << r.out;

    temp_dir flat_dir;
    input flat;
    flat.xmax = "-1";
    const run_result f = run_program(flat_dir.path, flat.text());
    ASSERT_EQ(f.exit_status, 0);
    EXPECT_NE(f.out.find(" dx= 0\n dt= 0\n courant= NaN\n"), std::string::npos) << f.out;
}

TEST(Program, UnstableRunOverflowsToInfinityAndNaNAndStillCompletes) {
    temp_dir dir;
    input in;
    in.nx = "16";
    in.courant = "40";
    in.nt = "400";
    in.every_1D = "100";
    in.boundtype = "1";
    const run_result r = run_program(dir.path, in.text());
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const auto rows = table_rows(r.out);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_TRUE(rows.back().find("NaN") != std::string::npos ||
                rows.back().find("Infinity") != std::string::npos)
        << rows.back();
}

TEST(Program, ReplacesStaleProfileFiles) {
    temp_dir dir;
    const std::string stale(100000, 'x');
    for (const char* name : {"phi.xl", "phi.xtl"}) {
        std::FILE* f = std::fopen((dir.path / name).c_str(), "w");
        std::fputs(stale.c_str(), f);
        std::fclose(f);
    }
    input in;
    in.nt = "0";
    ASSERT_EQ(run_program(dir.path, in.text()).exit_status, 0);
    EXPECT_EQ(read_file(dir.path / "phi.xtl"), "");
    EXPECT_EQ(read_file(dir.path / "phi.xl").find('x'), std::string::npos);
}

TEST(Program, UnreadableInputStopsBeforeAnyFileIsTouched) {
    struct bad {
        std::string text;
        std::string field;
    };
    const bad cases[] = {
        {"", "xmin"},
        {"0\n1\n", "nx"},
        {"0\n1\nten\n", "nx"},
        {"0\n1\n100.0\n", "nx"},
        {"0\n1\n12345678901\n", "nx"},
        {"0\n1\n-2147483649\n", "nx"},
        {"0\n1\n8\n,\n", "courant"},
        {"0\n1\n8\n0.5\n/\n", "nt"},
    };
    for (const bad& b : cases) {
        temp_dir dir;
        for (const char* name : {"phi.xl", "phi.xtl"}) {
            std::FILE* f = std::fopen((dir.path / name).c_str(), "w");
            std::fputs("kept\n", f);
            std::fclose(f);
        }
        const run_result r = run_program(dir.path, b.text);
        EXPECT_EQ(r.exit_status, 3) << b.text;
        const auto err = split_lines(r.err);
        ASSERT_EQ(err.size(), 1u) << r.err;
        EXPECT_NE(err[0].find("cannot read " + b.field + " "), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("xmin="), std::string::npos);
        EXPECT_EQ(r.out.back(), '\n');
        EXPECT_NE(r.out.substr(r.out.size() - 2), "\n\n") << "nothing after the prompt";
        EXPECT_EQ(read_file(dir.path / "phi.xl"), "kept\n");
        EXPECT_EQ(read_file(dir.path / "phi.xtl"), "kept\n");
    }
}

TEST(Program, GridsThatCannotBeHeldStopBeforeTheSummary) {
    temp_dir dir;
    input huge;
    huge.nx = "2000000000";
    const run_result r = run_program(dir.path, huge.text());
    EXPECT_EQ(r.exit_status, 1);
    const auto err = split_lines(r.err);
    ASSERT_EQ(err.size(), 2u) << r.err;
    EXPECT_NE(err[0].find("Cannot allocate memory"), std::string::npos);
    EXPECT_EQ(err[1], "Allocation would exceed memory limit");
    EXPECT_EQ(r.out.find("xmin="), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.path / "phi.xl"));

    input overflow;
    overflow.nx = "2147483647";
    const run_result o = run_program(dir.path, overflow.text());
    EXPECT_EQ(o.exit_status, 2);
    EXPECT_EQ(o.err, "Integer overflow when calculating the amount of memory to allocate\n");
    EXPECT_EQ(o.out.find("xmin="), std::string::npos);
}

TEST(Program, OutputThatCannotBeWrittenNeverPassesForSuccess) {
    {
        temp_dir dir;
        run_options to_full;
        to_full.stdout_path = "/dev/full";
        const run_result r = run_program(dir.path, input{}.text(), to_full);
        EXPECT_EQ(r.exit_status, 4);
        EXPECT_NE(r.err.find("cannot write to standard output: No space left on device"),
                  std::string::npos)
            << r.err;
    }
    for (const char* name : {"phi.xl", "phi.xtl"}) {
        temp_dir dir;
        fs::create_directory(dir.path / name);
        const run_result r = run_program(dir.path, input{}.text());
        EXPECT_EQ(r.exit_status, 4) << name;
        EXPECT_NE(r.err.find(std::string("cannot create ") + name + ": Is a directory"),
                  std::string::npos)
            << r.err;
        // The console shows the summary, the header and the first row, and no more rows.
        EXPECT_EQ(table_rows(r.out).size(), 1u);
        if (std::string(name) == "phi.xtl") {
            EXPECT_EQ(read_file(dir.path / "phi.xl"), "");
        }
    }
    for (const char* name : {"phi.xl", "phi.xtl"}) {
        temp_dir dir;
        fs::create_symlink("/dev/full", dir.path / name);
        const run_result r = run_program(dir.path, input{}.text());
        EXPECT_EQ(r.exit_status, 4) << name;
        EXPECT_NE(r.err.find(std::string("cannot write ") + name + ": No space left on device"),
                  std::string::npos)
            << r.err;
    }
}

// Threads never change a byte. OMP_DYNAMIC=false makes the run split every step, set-up and
// profile over all its threads instead of deciding by timing, so that the threaded paths surely
// run: grids with more than one round of 4096 sampled points per thread, every boundary type.
TEST(Program, SameBytesOnOneTwoAndThreeThreads) {
    for (const char* boundtype : {"1", "2", "0"}) {
        input in;
        in.xmin = "-10";
        in.xmax = "10";
        in.nx = "40003";
        in.nt = "12";
        in.boundtype = boundtype;
        in.width = "1";
        in.every_1D = "3";
        in.lapsetype = "1";
        in.shifttype = "4";
        std::string reference[3];
        for (const char* threads : {"1", "2", "3"}) {
            temp_dir dir;
            run_options options;
            options.environment = {{"OMP_NUM_THREADS", threads}, {"OMP_DYNAMIC", "false"}};
            const run_result r = run_program(dir.path, in.text(), options);
            ASSERT_EQ(r.exit_status, 0) << r.err;
            const std::string got[3] = {r.out, read_file(dir.path / "phi.xl"),
                                        read_file(dir.path / "phi.xtl")};
            for (int k = 0; k < 3; ++k) {
                if (std::string(threads) == "1") {
                    reference[k] = got[k];
                } else {
                    EXPECT_TRUE(got[k] == reference[k])
                        << (k == 0   ? "console"
                            : k == 1 ? "phi.xl"
                                     : "phi.xtl")
                        << " differs with " << threads << " threads, boundtype " << boundtype;
                }
            }
        }
    }
}

// A profile file that fills up while its records are formatted on several threads ends the run
// with the message and status of any failed write.
TEST(Program, FailedWriteOfAThreadedProfileIsReported) {
    input in;
    in.nx = "40000";
    in.nt = "2";
    in.every_1D = "1";
    for (const char* name : {"phi.xl", "phi.xtl"}) {
        temp_dir dir;
        fs::create_symlink("/dev/full", dir.path / name);
        run_options options;
        options.environment = {{"OMP_NUM_THREADS", "2"}, {"OMP_DYNAMIC", "false"}};
        const run_result r = run_program(dir.path, in.text(), options);
        EXPECT_EQ(r.exit_status, 4) << name;
        EXPECT_NE(r.err.find(std::string("cannot write ") + name + ": No space left on device"),
                  std::string::npos)
            << r.err;
    }
}

}  // namespace
