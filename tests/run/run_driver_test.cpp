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

// The table rows of a console transcript: 32 characters, starting with "  |  ".
std::vector<std::string> table_rows(const std::string& console) {
    std::vector<std::string> rows;
    for (const auto& line : split_lines(console)) {
        if (line.size() == 32 && line.rfind("  |  ", 0) == 0) rows.push_back(line);
    }
    return rows;
}

TEST(Program, CompleteRunConsoleAndFiles) {
    temp_dir dir;
    const run_result r = run_program(dir.path, input_with());
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
        const std::string in = input_with({{"nt", c.nt}, {"every_1D", c.every_1D}});
        const run_result r = run_program(dir.path, in);
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
        const std::string in = input_with(
            {{"nx", g.nx}, {"xmax", g.xmax}, {"width", g.width}, {"boundtype", g.boundtype}});
        const run_result r = run_program(dir.path, in);
        ASSERT_EQ(r.exit_status, 0) << "nx " << g.nx << ": " << r.err;
        const auto xl = split_lines(read_file(dir.path / "phi.xl"));
        EXPECT_EQ(xl.size(), 3 * (g.sampled + 3)) << "nx " << g.nx;
    }

    temp_dir dir;
    const std::string empty = input_with({{"nx", "-3"}});
    const run_result r = run_program(dir.path, empty);
    EXPECT_EQ(table_rows(r.out).front(), "  |   0.00E+00    | -1.80+308  |");
    EXPECT_NE(r.out.find(" dx= -0.6666666666666666\n"), std::string::npos) << r.out;

    temp_dir flat_dir;
    const std::string flat = input_with({{"xmax", "-1"}});
    const run_result f = run_program(flat_dir.path, flat);
    ASSERT_EQ(f.exit_status, 0);
    EXPECT_NE(f.out.find(" dx= 0\n dt= 0\n courant= NaN\n"), std::string::npos) << f.out;
}

TEST(Program, ReplacesStaleProfileFiles) {
    temp_dir dir;
    plant_stale_files(dir.path);
    ASSERT_EQ(run_program(dir.path, input_with({{"nt", "0"}})).exit_status, 0);
    EXPECT_EQ(read_file(dir.path / "phi.xtl"), "");
    EXPECT_EQ(read_file(dir.path / "phi.xl").find("earlier"), std::string::npos);
}

// Threads never change a byte. OMP_DYNAMIC=false makes the run split every step, set-up and
// profile over all its threads instead of deciding by timing, so that the threaded paths surely
// run: grids with more than one round of 4096 sampled points per thread, every boundary type.
TEST(Program, SameBytesOnOneTwoAndThreeThreads) {
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
        std::string reference[3];
        for (const char* threads : {"1", "2", "3"}) {
            temp_dir dir;
            run_options options;
            options.environment = {{"OMP_NUM_THREADS", threads}, {"OMP_DYNAMIC", "false"}};
            const run_result r = run_program(dir.path, in, options);
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
TEST(Program, NormsFileHoldsTheNormsOfTheFullFieldsAtEveryOutputTime) {
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
