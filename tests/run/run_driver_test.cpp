// End-to-end runs of the built program: a child process in a temporary directory, fed on its
// standard input, with its console, its files and its exit status checked.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "evolution/icn_step.hpp"
#include "grid/grid.hpp"
#include "grid/initial_data.hpp"
#include "run/parameter_input.hpp"
#include "support/profile_checks.hpp"
#include "support/run_wave1d.hpp"

namespace {

namespace fs = std::filesystem;

const std::string header =
    "  -------------------------------\n"
    "  |     Time     |  Maxval(phi) |\n"
    "  -------------------------------\n";

// The last value needs no line feed after it.
TEST(RunDriver, CompleteRunConsoleAndFiles) {
    temp_dir dir;
    std::string input = input_with();
    input.pop_back();
    const run_result r = run_program(dir.path, input);
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, dialogue_transcript +
                         " xmin= -1\n xmax= 1\n center= 0\n dx= 0.25\n dt= 0.125\n courant= 0.5\n" +
                         header +
                         "  |   0.00E+00    |  1.00E+00  |\n"
                         "  |   2.50E-01    |  6.58E-01  |\n"
                         "  |   5.00E-01    |  5.19E-01  |\n" +
                         closing_rule);
    // nx = 8: points 0, 4 and 8 are sampled, the last one included.
    expect_profile_rules(dir.path, 3, 3);
    const std::string xl = read_file(dir.path / "phi.xl");
    EXPECT_TRUE(xl.starts_with("#Time =   0.000000E+00\n")) << xl;
    EXPECT_NE(xl.find("#Time =   5.000000E-01\n"), std::string::npos) << xl;
    EXPECT_TRUE(read_file(dir.path / "phi.xtl").starts_with("  2.50000000E-01 "));
}

// A run replaces the profile files of an earlier one, also when it writes nothing after time
// zero.
TEST(RunDriver, OutputIntervals) {
    struct interval {
        std::string nt, every_1D;
        std::size_t rows;
    };
    // every_1D of 0 writes nothing after time zero; a negative one acts as its magnitude; one
    // larger than nt writes only time zero; nt of 0 or less takes no step.
    for (const interval& c :
         {interval{"5", "1", 6}, interval{"5", "0", 1}, interval{"6", "-3", 3},
          interval{"5", "9", 1}, interval{"0", "1", 1}, interval{"-7", "1", 1}}) {
        SCOPED_TRACE("nt " + c.nt + ", every_1D " + c.every_1D);
        temp_dir dir;
        plant_stale_files(dir.path);
        const run_result r =
            run_program(dir.path, input_with({{"nt", c.nt}, {"every_1D", c.every_1D}}));
        ASSERT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(table_row_count(r.out), c.rows);
        EXPECT_TRUE(r.out.ends_with(closing_rule));
        expect_profile_rules(dir.path, c.rows, 3);
    }
}

// Threads never change a byte. OMP_DYNAMIC=false makes the run split every step, set-up and
// profile over all its threads instead of deciding by timing, so that the threaded paths surely
// run: grids with more than one round of 4096 sampled points per thread, every boundary type.
TEST(RunDriver, SameBytesOnOneTwoAndThreeThreads) {
    for (const char* boundtype : {"1", "2", "0"}) {
        const std::string in = input_with({{"xmin", "-10"},
                                           {"xmax", "10"},
                                           {"nx", "40003"},
                                           {"nt", "12"},
                                           {"boundtype", boundtype},
                                           {"width", "1"},
                                           {"every_1D", "3"},
                                           {"lapsetype", "1"},
                                           {"shifttype", "4"}});
        run_output reference;
        for (const std::string threads : {"1", "2", "3"}) {
            SCOPED_TRACE(threads + " threads, boundtype " + boundtype);
            temp_dir dir;
            run_options options;
            options.environment = {{"OMP_NUM_THREADS", threads}, {"OMP_DYNAMIC", "false"}};
            const run_result r = run_program(dir.path, in, options);
            ASSERT_EQ(r.exit_status, 0) << r.err;
            if (threads == "1") reference = output_of(r, dir.path);
            expect_same_output(output_of(r, dir.path), reference);
        }
    }
}

// The time and the seven norms of the fields, taken here by plain loops over the full fields: the
// largest |phi| over every point (NaN if any is NaN), sqrt(dx * sum of squares) over 1 .. nx-1,
// the energy 0.5*dx * sum (pi^2 + psi^2), and the same of psi - (phi(i+1) - phi(i-1))*0.5/dx.
std::array<double, 8> plain_norms(double time, const FieldSet& f, int nx, double dx) {
    double largest_phi = 0, largest_c = 0, phi2 = 0, psi2 = 0, pi2 = 0, energy = 0, c2 = 0;
    bool phi_nan = false, c_nan = false;
    for (std::size_t k = 0; k < f.phi.size(); ++k) {
        phi_nan = phi_nan || std::isnan(f.phi.data()[k]);
        largest_phi = std::fmax(largest_phi, std::fabs(f.phi.data()[k]));
    }
    for (int i = 1; i < nx; ++i) {
        const double phi = f.phi.data()[i], psi = f.psi.data()[i], pi = f.pi.data()[i];
        const double c = psi - (f.phi.data()[i + 1] - f.phi.data()[i - 1]) * 0.5 / dx;
        phi2 += phi * phi;
        psi2 += psi * psi;
        pi2 += pi * pi;
        energy += pi * pi + psi * psi;
        c2 += c * c;
        c_nan = c_nan || std::isnan(c);
        largest_c = std::fmax(largest_c, std::fabs(c));
    }
    return {time,
            phi_nan ? NAN : largest_phi,
            std::sqrt(dx * phi2),
            std::sqrt(dx * psi2),
            std::sqrt(dx * pi2),
            0.5 * dx * energy,
            std::sqrt(dx * c2),
            c_nan ? NAN : largest_c};
}

// norms.tsv holds a row for every table row, each number the double the test takes from the
// fields it evolves itself, read back exactly: on outgoing, periodic and no boundaries, with a
// lapse and shift, through a blow-up to inf and nan, on grids with no interior or no point, and
// with a NaN only at the centre of phi (width 0), before values that are not NaN.
TEST(RunDriver, NormsFileHoldsTheNormsOfTheFullFieldsAtEveryOutputTime) {
    const std::vector<std::pair<std::string_view, std::string>> runs[] = {
        {},
        {{"boundtype", "1"},
         {"nx", "13"},
         {"every_1D", "1"},
         {"lapsetype", "1"},
         {"shifttype", "4"}},
        {{"boundtype", "0"}, {"nx", "16"}, {"courant", "3"}, {"nt", "520"}, {"every_1D", "40"}},
        {{"nx", "1"}, {"boundtype", "0"}},
        {{"nx", "-1"}, {"boundtype", "0"}},
        {{"width", "0"}, {"nt", "0"}},
    };
    for (const auto& changes : runs) {
        const std::string in = input_with(changes);
        SCOPED_TRACE(in);
        temp_dir dir;
        run_options options;
        options.arguments = {"--norms"};
        const run_result r = run_program(dir.path, in, options);
        ASSERT_EQ(r.exit_status, 0) << r.err;
        const auto rows = norms_rows(dir.path);
        ASSERT_EQ(rows.size(), table_row_count(r.out));

        std::istringstream values(in);
        std::FILE* quiet = std::fopen("/dev/null", "w");
        RunParameters params = read_parameters(values, quiet, quiet);
        std::fclose(quiet);
        FieldSet fields = create_grid(params);
        set_initial_data(params, fields);
        double time = 0;
        std::size_t row = 0;
        for (int step = 0; step <= params.nt; ++step) {
            if (step > 0) {
                time = time + params.dt;
                icn_step(fields, params);
                if (step % params.every_1D != 0) continue;
            }
            const auto want = plain_norms(time, fields, params.nx, params.dx);
            ASSERT_LT(row, rows.size());
            ASSERT_EQ(rows[row].size(), want.size());
            for (std::size_t c = 0; c < want.size(); ++c) {
                const std::string& got = rows[row][c];
                const std::string where =
                    "row " + std::to_string(row) + " column " + std::to_string(c);
                if (std::isnan(want[c])) {
                    EXPECT_EQ(got, "nan") << where;
                } else {
                    EXPECT_EQ(std::strtod(got.c_str(), nullptr), want[c]) << where << ": " << got;
                }
            }
            ++row;
        }
        EXPECT_EQ(row, rows.size());
    }
}

}  // namespace
