// End-to-end runs of the built program on bad input, unusual grids and faulty surroundings: each
// case is a child process whose exit status, standard error and files left behind are checked.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/profile_checks.hpp"
#include "support/run_wave1d.hpp"

namespace {

namespace fs = std::filesystem;

// The twelve values of the dialogue, by position.
enum field : std::size_t {
    xmin,
    xmax,
    nx,
    courant,
    nt,
    boundtype,
    amplitude,
    width,
    center,
    every_1D,
    lapsetype,
    shifttype,
};

const char* const field_names[] = {"xmin",   "xmax",      "nx",        "courant",
                                   "nt",     "boundtype", "amplitude", "width",
                                   "center", "every_1D",  "lapsetype", "shifttype"};

// A pulse on eight intervals of [-1, 1], four steps, output every second step; each case
// replaces the values it is about.
std::string with(const std::vector<std::pair<field, std::string>>& changes) {
    std::vector<std::string> values = {"-1", "1",    "8", "0.5", "4", "2",
                                       "1",  "0.25", "0", "2",   "0", "0"};
    for (const auto& [which, value] : changes) {
        values[which] = value;
    }
    return input_lines(values);
}

const std::string stale = "from an earlier run\n";

void plant_stale_files(const fs::path& dir) {
    for (const char* name : {"phi.xl", "phi.xtl"}) {
        std::FILE* f = std::fopen((dir / name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(stale.c_str(), f);
        std::fclose(f);
    }
}

void expect_stale_files_untouched(const fs::path& dir) {
    EXPECT_EQ(read_file(dir / "phi.xl"), stale);
    EXPECT_EQ(read_file(dir / "phi.xtl"), stale);
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

const std::string closing_rule = "  ------------------------------\n";
std::size_t sampled_points(std::int64_t intervals) {
    return intervals < 0 ? 0 : intervals / 4 + 1;
}

TEST(FailurePaths, RefusedValuesOfEveryKindStopBeforeAnyFileIsTouched) {
    std::string eleven_values = with({});
    eleven_values.resize(eleven_values.rfind("0\n"));
    struct refusal {
        std::string text;
        field refused;
        std::string reason;
    };
    const refusal cases[] = {
        {eleven_values, shifttype, "input ended"},
        {with({{nt, "2147483648"}}), nt, "\"2147483648\" is not an integer"},
        {with({{boundtype, "2.5E1"}}), boundtype, "\"2.5E1\" is not an integer"},
        {with({{every_1D, "often"}}), every_1D, "\"often\" is not an integer"},
        {with({{lapsetype, "10000000000"}}), lapsetype, "\"10000000000\""},
        // Bytes that are not printable are shown escaped, so the line stays whole and inert.
        {with({{nx, std::string("8\0", 2)}}), nx, "\"8\\x00\" is not an integer"},
        {with({{xmin, "\x1b[2J"}}), xmin, "\"\\x1B[2J\" is not a real number"},
        {with({{width, ", 0.25"}}), width, "null value"},
        {with({{center, "/ 0"}}), center, "slash"},
        {with({{amplitude, "1d309"}}), amplitude, "\"1d309\" is not a real number"},
        {with({{courant, "0.5.1"}}), courant, "\"0.5.1\""},
    };
    for (const refusal& c : cases) {
        temp_dir dir;
        plant_stale_files(dir.path);
        const run_result r = run_program(dir.path, c.text);
        const std::string name = field_names[c.refused];
        EXPECT_EQ(r.exit_status, 3) << name;
        const auto err = split_lines(r.err);
        ASSERT_EQ(err.size(), 1u) << r.err;
        EXPECT_TRUE(starts_with(err[0], "wave1d: cannot read " + name + " (")) << r.err;
        EXPECT_NE(err[0].find(c.reason), std::string::npos) << r.err;
        // Every prompt up to the refused one, each answered one with its empty line.
        EXPECT_EQ(split_lines(r.out).size(), 2 * c.refused + 1) << name << ":\n" << r.out;
        EXPECT_EQ(r.out.find("xmin="), std::string::npos);
        expect_stale_files_untouched(dir.path);
    }
}

// Input is never held a line at a time: a line of 65536 characters is read as usual, and one
// that goes on past that (standard input on /dev/zero, say) is refused at that point.
TEST(FailurePaths, LinesAreBoundedSoEndlessInputCannotFillMemory) {
    {
        temp_dir dir;
        const run_result r = run_program(dir.path, with({{center, "0" + std::string(65535, ' ')},
                                                         {every_1D, std::string(65536, '2')}}));
        EXPECT_EQ(r.exit_status, 3);
        EXPECT_NE(r.err.find("cannot read every_1D ("), std::string::npos) << r.err.substr(0, 200);
        EXPECT_NE(r.err.find("\" is not an integer"), std::string::npos) << "read whole";
    }
    for (const char filler : {'\0', ' ', '7'}) {
        temp_dir dir;
        plant_stale_files(dir.path);
        const run_result r =
            run_program(dir.path, "-1\n1\n" + std::string(std::size_t{1} << 24, filler));
        EXPECT_EQ(r.exit_status, 3) << int{filler};
        EXPECT_EQ(r.err,
                  "wave1d: cannot read nx (Number of points in the spatial domain): a line is "
                  "longer than 65536 characters\n");
        expect_stale_files_untouched(dir.path);
    }
}

TEST(FailurePaths, LastValueWithoutALineFeedStillCompletes) {
    temp_dir dir;
    std::string text = with({});
    text.pop_back();
    const run_result r = run_program(dir.path, text);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(ends_with(r.out, closing_rule));
}

// The largest grids stop on their size alone: no storage is touched, so the refusal is quick,
// and nothing is printed after the dialogue.
TEST(FailurePaths, GridsTooLargeToHoldStopQuicklyAndLeaveStaleFilesUntouched) {
    struct too_large {
        std::string intervals;
        int status;
    };
    for (const too_large& c : {too_large{"2147483647", 2}, too_large{"2147483646", 1}}) {
        temp_dir dir;
        plant_stale_files(dir.path);
        const auto start = std::chrono::steady_clock::now();
        const run_result r = run_program(dir.path, with({{nx, c.intervals}, {boundtype, "1"}}));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(r.exit_status, c.status) << c.intervals << ": " << r.err;
        EXPECT_LT(elapsed, std::chrono::seconds(10)) << c.intervals;
        const auto err = split_lines(r.err);
        ASSERT_FALSE(err.empty());
        EXPECT_EQ(err.back(), c.status == 2 ? "Integer overflow when calculating the amount of "
                                              "memory to allocate"
                                            : "Allocation would exceed memory limit");
        EXPECT_EQ(err.size(), c.status == 2 ? 1u : 2u) << r.err;
        EXPECT_TRUE(ends_with(r.out, " shifttype\n\n")) << "nothing after the dialogue";
        expect_stale_files_untouched(dir.path);
    }
}

TEST(FailurePaths, ProfileFilesAreOpenedInOrderAndAFailureLeavesTheRestAlone) {
    // phi.xl is created first: when it cannot be, phi.xtl is not touched.
    temp_dir dir;
    plant_stale_files(dir.path);
    fs::remove(dir.path / "phi.xl");
    fs::create_directory(dir.path / "phi.xl");
    const run_result r = run_program(dir.path, with({}));
    EXPECT_EQ(r.exit_status, 4);
    EXPECT_EQ(r.err, "wave1d: cannot create phi.xl: Is a directory\n");
    EXPECT_EQ(read_file(dir.path / "phi.xtl"), stale);
    EXPECT_EQ(table_row_count(r.out), 1u);
    EXPECT_FALSE(ends_with(r.out, closing_rule));
}

// A file that fills up stops the run where the write fails: no closing rule, and not all of the
// output rows. The block of time zero is written out at once, so a full device is found there.
TEST(FailurePaths, ProfileFileThatFillsUpStopsTheRunWhereItFails) {
    for (const char* name : {"phi.xl", "phi.xtl"}) {
        temp_dir dir;
        fs::create_symlink("/dev/full", dir.path / name);
        const run_result r = run_program(
            dir.path, with({{nx, "2000"}, {nt, "100"}, {every_1D, "1"}, {boundtype, "1"}}));
        EXPECT_EQ(r.exit_status, 4) << name;
        EXPECT_EQ(r.err,
                  std::string("wave1d: cannot write ") + name + ": No space left on device\n");
        EXPECT_GE(table_row_count(r.out), 1u) << name;
        EXPECT_LT(table_row_count(r.out), 101u) << name;
        EXPECT_FALSE(ends_with(r.out, closing_rule)) << name;
    }
}

// Every boundary type on every grid too small for some condition, the empty grids included,
// with no output interval or a negative one: all complete, and keep the output rules.
TEST(FailurePaths, EveryBoundaryTypeOnTinyGridsCompletesCleanly) {
    const std::int64_t grids[] = {-2147483648LL, -2, -1, 0, 1, 2, 3, 4};
    for (const char* type : {"-1", "0", "1", "2", "3"}) {
        for (const std::int64_t intervals : grids) {
            for (const char* interval : {"0", "-2"}) {
                temp_dir dir;
                const bool no_interval = std::string(interval) == "0";
                const run_result r =
                    run_program(dir.path, with({{nx, std::to_string(intervals)},
                                                {boundtype, type},
                                                {every_1D, interval},
                                                {lapsetype, no_interval ? "0" : "1"},
                                                {shifttype, no_interval ? "2" : "4"}}));
                SCOPED_TRACE(std::string("boundtype ") + type + ", nx " +
                             std::to_string(intervals) + ", every_1D " + interval);
                ASSERT_EQ(r.exit_status, 0) << r.err;
                // Nothing but warnings: one point has an infinite dx and so a NaN coordinate and
                // phi, and the shift x outruns the lapse at the ends of the outgoing grids.
                for (const auto& line : split_lines(r.err)) {
                    EXPECT_EQ(line.rfind("wave1d: warning: ", 0), 0u) << line;
                }
                const std::size_t rows = no_interval ? 1 : 3;
                EXPECT_EQ(table_row_count(r.out), rows);
                EXPECT_TRUE(ends_with(r.out, closing_rule));
                expect_profile_rules(dir.path, rows, sampled_points(intervals));
            }
        }
    }
}

TEST(FailurePaths, NonFiniteValuesCompleteWithNaNWrittenAsZero) {
    // Width 0 with the centre on point 4: phi there is 0/0, psi is NaN everywhere.
    {
        temp_dir dir;
        const run_result r = run_program(dir.path, with({{width, "0"}, {nt, "2"}}));
        ASSERT_EQ(r.exit_status, 0) << r.err;
        expect_profile_rules(dir.path, 2, 3);
        const auto xl = split_lines(read_file(dir.path / "phi.xl"));
        EXPECT_EQ(xl[2], zero_field + zero_field) << "NaN at the centre is written as zero";
    }
    // xmax equal to xmin: dx and dt are 0, the right-hand sides divide by zero.
    {
        temp_dir dir;
        const run_result r = run_program(dir.path, with({{xmax, "-1"}, {every_1D, "1"}}));
        ASSERT_EQ(r.exit_status, 0) << r.err;
        EXPECT_NE(r.out.find(" dx= 0\n dt= 0\n courant= NaN\n"), std::string::npos) << r.out;
        expect_profile_rules(dir.path, 5, 3);
    }
    // One point, dx infinite and x(0) NaN.
    {
        temp_dir dir;
        const run_result r = run_program(dir.path, with({{nx, "0"}, {every_1D, "1"}}));
        ASSERT_EQ(r.exit_status, 0) << r.err;
        EXPECT_NE(r.out.find(" dx= Infinity\n dt= Infinity\n courant= NaN\n"), std::string::npos)
            << r.out;
        expect_profile_rules(dir.path, 5, 1);
    }
}

// An unstable Courant factor: phi grows to Infinity, which is written as itself, and then to
// NaN, which the files write as zero and the table as NaN.
TEST(FailurePaths, UnstableRunOverflowsAndKeepsTheOutputRules) {
    temp_dir dir;
    const run_result r = run_program(
        dir.path,
        with({{nx, "16"}, {courant, "3"}, {nt, "520"}, {every_1D, "1"}, {boundtype, "2"}}));
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find("|  Infinity  |"), std::string::npos);
    EXPECT_NE(r.out.find("|       NaN  |"), std::string::npos);
    expect_profile_rules(dir.path, 521, 5);
    const std::string xl = read_file(dir.path / "phi.xl");
    EXPECT_NE(xl.find("        Infinity\n"), std::string::npos);
}

}  // namespace
