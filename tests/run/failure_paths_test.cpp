// End-to-end runs of the built program on bad input, unusual grids and faulty surroundings: each
// case is a child process whose exit status, standard error and files left behind are checked.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "run/input_values.hpp"
#include "support/profile_checks.hpp"
#include "support/run_wave1d.hpp"

namespace {

namespace fs = std::filesystem;

std::size_t sampled_points(std::int64_t intervals) {
    return intervals < 0 ? 0 : intervals / 4 + 1;
}

TEST(FailurePaths, RefusedValuesOfEveryKindStopBeforeAnyFileIsTouched) {
    std::string eleven_values = input_with();
    eleven_values.resize(eleven_values.rfind("0\n"));
    struct refusal {
        std::string text;
        std::size_t refused;  // the position of the refused value in the dialogue
        std::string reason;
    };
    const refusal cases[] = {
        {"", 0, "input ended"},
        {"0\n1\n", 2, "input ended"},
        {eleven_values, 11, "input ended"},
        {input_with({{"nx", "ten"}}), 2, "\"ten\" is not an integer"},
        {input_with({{"nx", "100.0"}}), 2, "\"100.0\" is not an integer"},
        {input_with({{"nx", "-2147483649"}}), 2, "\"-2147483649\" is not an integer"},
        {input_with({{"nt", "2147483648"}}), 4, "\"2147483648\" is not an integer"},
        {input_with({{"boundtype", "2.5E1"}}), 5, "\"2.5E1\" is not an integer"},
        {input_with({{"every_1D", "often"}}), 9, "\"often\" is not an integer"},
        {input_with({{"lapsetype", "10000000000"}}), 10, "\"10000000000\""},
        // Bytes that are not printable are shown escaped, so the line stays whole and inert.
        {input_with({{"nx", std::string("8\0", 2)}}), 2, "\"8\\x00\" is not an integer"},
        {input_with({{"xmin", "\x1b[2J"}}), 0, "\"\\x1B[2J\" is not a real number"},
        {input_with({{"width", ", 0.25"}}), 7, "null value"},
        {input_with({{"center", "/ 0"}}), 8, "slash"},
        {input_with({{"amplitude", "1d309"}}), 6, "\"1d309\" is not a real number"},
        {input_with({{"courant", "0.5.1"}}), 3, "\"0.5.1\""},
    };
    for (const refusal& c : cases) {
        temp_dir dir;
        plant_stale_files(dir.path);
        const run_result r = run_program(dir.path, c.text);
        const std::string name(input_values[c.refused].name);
        EXPECT_EQ(r.exit_status, 3) << name;
        const auto err = split_lines(r.err);
        ASSERT_EQ(err.size(), 1u) << r.err;
        EXPECT_TRUE(err[0].starts_with("wave1d: cannot read " + name + " (")) << r.err;
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
        const run_result r =
            run_program(dir.path, input_with({{"center", "0" + std::string(65535, ' ')},
                                              {"every_1D", std::string(65536, '2')}}));
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

// A grid that cannot be held stops before the summary and leaves stale files untouched: the
// largest stop on their size alone, with no storage touched; one that
// passes the size check but is refused by the system (an address-space limit) stops at the
// first allocation that fails, with the system's reason.
TEST(FailurePaths, GridsTooLargeToHoldStopBeforeTheSummary) {
    struct too_large {
        std::string intervals;
        std::optional<rlim_t> address_space_limit;
        int status;
        std::string reason;  // in the line before the last
    };
    const too_large cases[] = {
        {"2147483647", {}, 2, ""},
        {"2147483646", {}, 1, "Cannot allocate memory"},
        {"10000000", 256ULL << 20, 1, "for grid function "},
    };
    for (const too_large& c : cases) {
#if defined(WAVE1D_ADDRESS_SANITIZER)
        // AddressSanitizer reserves more address space than any such limit allows.
        if (c.address_space_limit) continue;
#endif
        temp_dir dir;
        plant_stale_files(dir.path);
        run_options options;
        options.address_space_limit = c.address_space_limit;
        const run_result r =
            run_program(dir.path, input_with({{"nx", c.intervals}, {"boundtype", "1"}}), options);
        SCOPED_TRACE("nx " + c.intervals);
        EXPECT_EQ(r.exit_status, c.status) << r.err;
        const auto err = split_lines(r.err);
        ASSERT_EQ(err.size(), c.status == 2 ? 1u : 2u) << r.err;
        EXPECT_EQ(err.back(), c.status == 2 ? "Integer overflow when calculating the amount of "
                                              "memory to allocate"
                                            : "Allocation would exceed memory limit");
        if (c.status == 1) {
            EXPECT_NE(err[0].find(c.reason), std::string::npos) << err[0];
        }
        EXPECT_TRUE(r.out.ends_with(" shifttype\n\n")) << "nothing after the dialogue";
        expect_stale_files_untouched(dir.path);
    }
}

// An output that cannot be written stops the run where it fails, with the file's name and the
// system's reason, and no closing rule. phi.xl is created first, then phi.xtl, then with --norms
// norms.tsv: a directory in the way of any stops the run after the first table row; when phi.xl
// is in the way, phi.xtl is not touched, and when a later one is, phi.xl is left empty. A file or
// console on a full device stops the run before all of its rows, also while the records are
// formatted on several threads: the block of time zero and its norms are written out at once.
TEST(FailurePaths, AnOutputThatCannotBeWrittenStopsTheRun) {
    struct unwritable {
        std::string name;  // the file in the way or on /dev/full, or "standard output"
        bool directory;    // a directory in the way, else /dev/full
        std::string threads;
        std::string err;
    };
    const std::string full = ": No space left on device\n";
    const unwritable cases[] = {
        {"phi.xl", true, "1", "cannot create phi.xl: Is a directory\n"},
        {"phi.xtl", true, "1", "cannot create phi.xtl: Is a directory\n"},
        {"norms.tsv", true, "1", "cannot create norms.tsv: Is a directory\n"},
        {"phi.xl", false, "1", "cannot write phi.xl" + full},
        {"phi.xtl", false, "1", "cannot write phi.xtl" + full},
        {"phi.xl", false, "2", "cannot write phi.xl" + full},
        {"phi.xtl", false, "2", "cannot write phi.xtl" + full},
        {"norms.tsv", false, "1", "cannot write norms.tsv" + full},
        {"standard output", false, "1", "cannot write to standard output" + full},
    };
    for (const unwritable& c : cases) {
        SCOPED_TRACE(c.err);
        temp_dir dir;
        plant_stale_files(dir.path);
        run_options options;
        if (c.directory || c.name == "norms.tsv") options.arguments = {"--norms"};
        options.environment = {{"OMP_NUM_THREADS", c.threads}, {"OMP_DYNAMIC", "false"}};
        if (c.name == "standard output") {
            options.stdout_path = "/dev/full";
        } else {
            fs::remove(dir.path / c.name);
            if (c.directory) fs::create_directory(dir.path / c.name);
            if (!c.directory) fs::create_symlink("/dev/full", dir.path / c.name);
        }
        const run_result r = run_program(
            dir.path,
            input_with({{"nx", "40000"}, {"nt", "100"}, {"every_1D", "1"}, {"boundtype", "1"}}),
            options);
        EXPECT_EQ(r.exit_status, 4);
        EXPECT_EQ(r.err, "wave1d: " + c.err);
        if (c.name == "standard output") continue;
        EXPECT_GE(table_row_count(r.out), 1u);
        EXPECT_LT(table_row_count(r.out), 101u);
        EXPECT_FALSE(r.out.ends_with(closing_rule));
        if (!c.directory) continue;
        EXPECT_EQ(table_row_count(r.out), 1u);
        if (c.name == "phi.xl") {
            EXPECT_EQ(read_file(dir.path / "phi.xtl"), "from an earlier run\n");
        } else {
            EXPECT_EQ(read_file(dir.path / "phi.xl"), "");
        }
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
                    run_program(dir.path, input_with({{"nx", std::to_string(intervals)},
                                                      {"boundtype", type},
                                                      {"every_1D", interval},
                                                      {"lapsetype", no_interval ? "0" : "1"},
                                                      {"shifttype", no_interval ? "2" : "4"}}));
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
                EXPECT_TRUE(r.out.ends_with(closing_rule));
                expect_profile_rules(dir.path, rows, sampled_points(intervals));
            }
        }
    }
}

// xmax equal to xmin: dx and dt are 0, the right-hand sides divide by zero, and the run
// completes with the output rules kept (a width of 0 and a single point, with their NaN, are
// among the stored outputs).
TEST(FailurePaths, AZeroDomainCompletesWithNaNWrittenAsZero) {
    temp_dir dir;
    const run_result r = run_program(dir.path, input_with({{"xmax", "-1"}, {"every_1D", "1"}}));
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find(" dx= 0\n dt= 0\n courant= NaN\n"), std::string::npos) << r.out;
    expect_profile_rules(dir.path, 5, 3);
}

// An unstable Courant factor: phi grows to Infinity, which is written as itself, and then to
// NaN, which the files write as zero and the table as NaN.
TEST(FailurePaths, UnstableRunOverflowsAndKeepsTheOutputRules) {
    temp_dir dir;
    const run_result r = run_program(dir.path, overflowing_run);
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find("|  Infinity  |"), std::string::npos);
    EXPECT_NE(r.out.find("|       NaN  |"), std::string::npos);
    expect_profile_rules(dir.path, 521, 5);
    const std::string xl = read_file(dir.path / "phi.xl");
    EXPECT_NE(xl.find("        Infinity\n"), std::string::npos);
}

}  // namespace
