// The warnings of a run that cannot be trusted, end to end: one line each on standard error,
// while the run completes with status 0.
#include "run/run_warnings.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "grid/grid.hpp"
#include "grid/initial_data.hpp"
#include "support/run_wave1d.hpp"
#include "support/test_fields.hpp"

namespace {

namespace fs = std::filesystem;

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

std::vector<std::string> run_warnings(const std::vector<std::string>& values) {
    temp_dir dir;
    return warnings_of(run_program(dir.path, input_lines(values)));
}

bool mentions(const std::string& line, const std::string& what) {
    return line.find(what) != std::string::npos;
}

TEST(Warnings, NoneOnTheStableExamplesAndBothOnTheUnstableOne) {
    for (const char* name : {"outgoing_pulse", "periodic_pulse", "shifted_pulse", "tanh_lapse"}) {
        temp_dir dir;
        const run_result r = run_program(
            dir.path, read_file(fs::path(WAVE1D_EXAMPLES_DIR) / (std::string(name) + ".in")));
        EXPECT_EQ(r.exit_status, 0) << name;
        EXPECT_EQ(r.err, "") << name;
    }

    temp_dir dir;
    const auto lines = warnings_of(
        run_program(dir.path, read_file(fs::path(WAVE1D_EXAMPLES_DIR) / "unstable_courant.in")));
    ASSERT_EQ(lines.size(), 2u);
    // Courant factor 2.2 with lapse 1 and shift 0: the largest stable one is 2.
    EXPECT_TRUE(mentions(lines[0], "Courant factor 2.2 ")) << lines[0];
    EXPECT_TRUE(mentions(lines[0], "largest stable Courant factor for this lapse and shift is 2,"))
        << lines[0];
    EXPECT_EQ(lines[1].rfind(not_finite, 0), 0u) << lines[1];
    EXPECT_TRUE(mentions(lines[1], "; phi.xl and phi.xtl write NaN as zero")) << lines[1];
}

TEST(Warnings, CourantLimitFollowsTheLapseAndShift) {
    // xmin xmax nx courant nt boundtype amplitude width center every_1D lapsetype shifttype.
    // Shift 1.2, lapse 1, periodic: speeds 2.2 and 0.2, so 0.9 is stable and 0.95 is not.
    EXPECT_TRUE(
        run_warnings({"-10", "10", "40", "0.9", "5", "1", "1", "1", "0", "5", "0", "3"}).empty());
    const auto fast =
        run_warnings({"-10", "10", "40", "0.95", "5", "1", "1", "1", "0", "5", "0", "3"});
    ASSERT_EQ(fast.size(), 1u);
    EXPECT_TRUE(mentions(fast[0], " is 0.9090909090909091,")) << fast[0];
    // The factor named passes.
    EXPECT_TRUE(run_warnings({"-10", "10", "40", "0.9090909090909091", "5", "1", "1", "1", "0", "5",
                              "0", "3"})
                    .empty());
    // A negative factor steps backwards and is as unstable as its magnitude.
    EXPECT_EQ(run_warnings({"-1", "1", "8", "-2.5", "5", "1", "1", "1", "0", "5", "0", "0"}).size(),
              1u);
    // No step, or no interior point for the differences to couple: nothing can grow.
    for (const auto& [nt, nx] : {std::pair{"0", "8"}, {"-3", "8"}, {"5", "1"}}) {
        EXPECT_TRUE(
            run_warnings({"-1", "1", nx, "3", nt, "1", "1", "1", "0", "5", "0", "0"}).empty())
            << nt << " " << nx;
    }
}

TEST(Warnings, OutgoingBoundaryWithTheShiftFasterThanTheLapseAtAnEnd) {
    // Shift 1.2 with lapse 1 at both ends.
    const auto both =
        run_warnings({"-10", "10", "400", "0.5", "4", "2", "1", "1", "0", "2", "0", "3"});
    ASSERT_EQ(both.size(), 2u);
    EXPECT_TRUE(mentions(both[0], "outgoing boundary cannot hold at the left end (x = -10)"));
    EXPECT_TRUE(mentions(both[0], "beta = 1.2, alpha = 1")) << both[0];
    EXPECT_TRUE(mentions(both[1], "at the right end (x = 10)")) << both[1];

    // Shift x with the tanh lapse: beta = -10 and 10 at the ends, and the speed 11 at x = 10
    // also needs a Courant factor below 2/11.
    const auto shift_x =
        run_warnings({"-10", "10", "400", "0.5", "4", "2", "1", "1", "0", "2", "1", "4"});
    ASSERT_EQ(shift_x.size(), 3u);
    EXPECT_TRUE(mentions(shift_x[0],
                         "Courant factor 0.5 times the largest characteristic "
                         "speed 11 "))
        << shift_x[0];
    EXPECT_TRUE(mentions(shift_x[1], "beta = -10, alpha = 0.5")) << shift_x[1];
    EXPECT_TRUE(mentions(shift_x[2], "beta = 10, alpha = 1")) << shift_x[2];

    // Shift x on [-0.5, 0.5] stays below the lapse at the ends.
    EXPECT_TRUE(
        run_warnings({"-0.5", "0.5", "40", "0.5", "4", "2", "1", "1", "0", "2", "0", "4"}).empty());
    // Not when the condition is skipped (nx < 3), nor for other boundary types.
    EXPECT_TRUE(
        run_warnings({"-10", "10", "2", "0.5", "4", "2", "1", "1", "0", "2", "0", "3"}).empty());
    EXPECT_TRUE(
        run_warnings({"-10", "10", "40", "0.5", "4", "0", "1", "1", "0", "2", "0", "3"}).empty());
}

TEST(Warnings, ShiftEqualToTheLapseAtTheEndIsNoFault) {
    // The tanh lapse at x = -10 is 0.25*tanh(-100) + 0.75, exactly 0.5 in doubles: the shift
    // 0.5 of shifttype 1 equals it there.
    RunParameters params = grid_parameters(400, -10.0, 10.0, 0.5);
    params.lapsetype = 1;
    params.shifttype = 1;
    FieldSet fields = create_grid(params);
    set_initial_data(params, fields);
    ASSERT_EQ(fields.alpha[0], 0.5);
    ASSERT_EQ(fields.beta[0], 0.5);

    EXPECT_TRUE(
        run_warnings({"-10", "10", "400", "0.5", "4", "2", "1", "1", "0", "2", "1", "1"}).empty());
}

TEST(Warnings, PhiNotFiniteOnceAtTheFirstOutputTimeThatHoldsIt) {
    // Width 0 puts a NaN on the centre at time zero, which the table's largest value hides.
    temp_dir dir;
    const run_result r = run_program(
        dir.path, input_lines({"-1", "1", "8", "0.5", "4", "2", "1", "0", "0", "2", "0", "0"}));
    const auto at_zero = warnings_of(r);
    ASSERT_EQ(at_zero.size(), 1u);
    EXPECT_EQ(at_zero[0], not_finite + "0; phi.xl and phi.xtl write NaN as zero");
    EXPECT_NE(r.out.find("  |   0.00E+00    |  0.00E+00  |\n"), std::string::npos) << r.out;

    // Courant factor 40 overflows within the first output interval of 100 steps (dt = 5), and
    // the table keeps showing non-finite values after it: one warning, at time 500.
    const auto blown =
        run_warnings({"-1", "1", "16", "40", "400", "1", "1", "0.25", "0", "100", "0", "0"});
    ASSERT_EQ(blown.size(), 2u);
    EXPECT_EQ(blown[1], not_finite + "500; phi.xl and phi.xtl write NaN as zero");

    // Checked at output times only: with none after time zero, the same run says nothing of it.
    const auto unseen =
        run_warnings({"-1", "1", "16", "40", "400", "1", "1", "0.25", "0", "0", "0", "0"});
    ASSERT_EQ(unseen.size(), 1u);
    EXPECT_EQ(unseen[0].find(not_finite), std::string::npos);
}

}  // namespace
