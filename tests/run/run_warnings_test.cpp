// The warnings of a run that cannot be trusted, end to end: one line each on standard error,
// while the run completes with status 0. Those of the examples are kept among the stored outputs.
#include "run/run_warnings.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "grid/grid.hpp"
#include "grid/initial_data.hpp"
#include "support/run_wave1d.hpp"
#include "support/test_fields.hpp"

namespace {

const std::string prefix = "wave1d: warning: ";
const std::string not_finite = prefix + "phi is not finite at time ";

// The lines of standard error that are warnings; fails the test if any line is something else.
std::vector<std::string> warnings_of(const run_result& r) {
    EXPECT_EQ(r.exit_status, 0) << r.err;
    const auto lines = split_lines(r.err);
    for (const auto& line : lines) {
        EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
    }
    return lines;
}

// A pulse of width 1 on [-10, 10], with the changes on top.
std::vector<std::string> run_warnings(
    std::vector<std::pair<std::string_view, std::string>> changes) {
    changes.insert(changes.begin(), {{"xmin", "-10"}, {"xmax", "10"}, {"width", "1"}});
    temp_dir dir;
    return warnings_of(run_program(dir.path, input_with(changes)));
}

bool mentions(const std::string& line, const std::string& what) {
    return line.find(what) != std::string::npos;
}

TEST(RunWarnings, CourantLimitFollowsTheLapseAndShift) {
    // Shift 1.2, lapse 1, periodic: speeds 2.2 and 0.2, so 0.9 is stable and 0.95 is not.
    auto shift_1_2 = [](const std::string& courant) {
        return run_warnings({{"nx", "40"},
                             {"courant", courant},
                             {"nt", "5"},
                             {"boundtype", "1"},
                             {"every_1D", "5"},
                             {"shifttype", "3"}});
    };
    EXPECT_TRUE(shift_1_2("0.9").empty());
    const auto fast = shift_1_2("0.95");
    ASSERT_EQ(fast.size(), 1u);
    EXPECT_TRUE(mentions(fast[0], " is 0.9090909090909091,")) << fast[0];
    // The factor named passes.
    EXPECT_TRUE(shift_1_2("0.9090909090909091").empty());
    // A negative factor steps backwards and is as unstable as its magnitude.
    EXPECT_EQ(
        run_warnings({{"courant", "-2.5"}, {"nt", "5"}, {"boundtype", "1"}, {"every_1D", "5"}})
            .size(),
        1u);
    // No step, or no interior point for the differences to couple: nothing can grow.
    for (const auto& [nt, nx] : {std::pair{"0", "8"}, {"-3", "8"}, {"5", "1"}}) {
        EXPECT_TRUE(
            run_warnings(
                {{"nx", nx}, {"courant", "3"}, {"nt", nt}, {"boundtype", "1"}, {"every_1D", "5"}})
                .empty())
            << nt << " " << nx;
    }
}

TEST(RunWarnings, OutgoingBoundaryWithTheShiftFasterThanTheLapseAtAnEnd) {
    // Shift 1.2 with lapse 1 at both ends.
    const auto both = run_warnings({{"nx", "400"}, {"shifttype", "3"}});
    ASSERT_EQ(both.size(), 2u);
    EXPECT_TRUE(mentions(both[0], "outgoing boundary cannot hold at the left end (x = -10)"));
    EXPECT_TRUE(mentions(both[0], "beta = 1.2, alpha = 1")) << both[0];
    EXPECT_TRUE(mentions(both[1], "at the right end (x = 10)")) << both[1];

    // Shift x with the tanh lapse: beta = -10 and 10 at the ends, and the speed 11 at x = 10
    // also needs a Courant factor below 2/11.
    const auto shift_x = run_warnings({{"nx", "400"}, {"lapsetype", "1"}, {"shifttype", "4"}});
    ASSERT_EQ(shift_x.size(), 3u);
    EXPECT_TRUE(mentions(shift_x[0],
                         "Courant factor 0.5 times the largest characteristic "
                         "speed 11 "))
        << shift_x[0];
    EXPECT_TRUE(mentions(shift_x[1], "beta = -10, alpha = 0.5")) << shift_x[1];
    EXPECT_TRUE(mentions(shift_x[2], "beta = 10, alpha = 1")) << shift_x[2];

    // Shift x on [-0.5, 0.5] stays below the lapse at the ends.
    EXPECT_TRUE(run_warnings({{"xmin", "-0.5"}, {"xmax", "0.5"}, {"nx", "40"}, {"shifttype", "4"}})
                    .empty());
    // Not when the condition is skipped (nx < 3), nor for other boundary types.
    EXPECT_TRUE(run_warnings({{"nx", "2"}, {"shifttype", "3"}}).empty());
    EXPECT_TRUE(run_warnings({{"nx", "40"}, {"boundtype", "0"}, {"shifttype", "3"}}).empty());
}

TEST(RunWarnings, ShiftEqualToTheLapseAtTheEndIsNoFault) {
    // The tanh lapse at x = -10 is 0.25*tanh(-100) + 0.75, exactly 0.5 in doubles: the shift
    // 0.5 of shifttype 1 equals it there.
    RunParameters params = grid_parameters(400, -10.0, 10.0, 0.5);
    params.lapsetype = 1;
    params.shifttype = 1;
    FieldSet fields = create_grid(params);
    set_initial_data(params, fields);
    ASSERT_EQ(fields.alpha[0], 0.5);
    ASSERT_EQ(fields.beta[0], 0.5);

    EXPECT_TRUE(run_warnings({{"nx", "400"}, {"lapsetype", "1"}, {"shifttype", "1"}}).empty());
}

// Phi is checked at output times, and said to be not finite once, at the first that holds it (the
// examples, and a width of 0 at time zero, are among the stored outputs).
TEST(RunWarnings, PhiNotFiniteOnceAtTheFirstOutputTimeThatHoldsIt) {
    // Courant factor 40 overflows within the first output interval of 100 steps (dt = 50), and
    // the table keeps showing non-finite values after it: one warning, at time 5000.
    const auto blown = run_warnings(
        {{"nx", "16"}, {"courant", "40"}, {"nt", "400"}, {"boundtype", "1"}, {"every_1D", "100"}});
    ASSERT_EQ(blown.size(), 2u);
    EXPECT_EQ(blown[1], not_finite + "5000; phi.xl and phi.xtl write NaN as zero");

    // Checked at output times only: with none after time zero, the same run says nothing of it.
    const auto unseen = run_warnings(
        {{"nx", "16"}, {"courant", "40"}, {"nt", "400"}, {"boundtype", "1"}, {"every_1D", "0"}});
    ASSERT_EQ(unseen.size(), 1u);
    EXPECT_EQ(unseen[0].find(not_finite), std::string::npos);
}

// A decimal comma or a thousands separator is read up to the comma, as before, and said so; a
// comma followed by anything but a digit is no slip.
TEST(RunWarnings, ACommaFollowedByADigitIsReadUpToTheCommaAndSaidSo) {
    temp_dir dir;
    const run_result r = run_program(
        dir.path, input_with({{"nx", "8,000"}, {"courant", "0,5 Courant"}, {"nt", "4, steps"}}));
    const auto lines = warnings_of(r);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_EQ(lines[0], prefix + "nx read as 8 from \"8,000\": a comma ends a value");
    EXPECT_EQ(lines[1], prefix + "courant read as 0 from \"0,5\": a comma ends a value");
    EXPECT_NE(r.out.find(" dx= 0.25\n dt= 0\n"), std::string::npos) << r.out;
}

}  // namespace
