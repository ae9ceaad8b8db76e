#include "output/profile_files.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <iterator>
#include <limits>
#include <random>
#include <string>

#include "common/run_failure.hpp"
#include "output/format_sci.hpp"
#include "support/run_wave1d.hpp"
#include "support/test_fields.hpp"

namespace {

namespace fs = std::filesystem;

// Runs each test in a fresh directory, since the profile files are written to the current one.
class ProfileFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = fs::current_path();
        fs::current_path(dir_.path);
    }
    void TearDown() override { fs::current_path(previous_); }

    // A grid of nx = 8 on [-1, 1]: the sampled points 0, 4, 8 lie at -1, 0 and 1.
    FieldSet grid(double phi0, double phi4, double phi8) {
        RunParameters p = grid_parameters(8, -1.0, 1.0, 1.0);
        FieldSet f = make_fields(p);
        fill(f.phi, 123.0);  // never sampled
        f.phi[0] = phi0;
        f.phi[4] = phi4;
        f.phi[8] = phi8;
        return f;
    }

    temp_dir dir_;
    fs::path previous_;
};

TEST_F(ProfileFilesTest, OneOutputStepLineByLine) {
    FieldSet f = grid(1e-60, 0.75, -0.0025);
    {
        ProfileFiles files = open_profile_files();
        EXPECT_EQ(read_file("phi.xl"), "");
        write_profile(files, 0.5, f.x, f.phi);
        close_profile_files(files);
    }
    EXPECT_EQ(read_file("phi.xl"),
              "#Time =   5.000000E-01\n"
              " -1.00000000E+00  0.00000000E+00\n"
              "  0.00000000E+00  7.50000000E-01\n"
              "  1.00000000E+00 -2.50000000E-03\n"
              "\n"
              "\n");
    EXPECT_EQ(read_file("phi.xtl"),
              "  5.00000000E-01 -1.00000000E+00  0.00000000E+00\n"
              "  5.00000000E-01  0.00000000E+00  7.50000000E-01\n"
              "\n"
              "  5.00000000E-01  1.00000000E+00 -2.50000000E-03\n"
              "\n"
              "\n"
              "\n");
}

TEST_F(ProfileFilesTest, InitialBlockFloorNaNInfinitiesAndNegativeZero) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    FieldSet f = grid(1e-50, nan, -0.0);
    FieldSet g = grid(1.0000000000000001e-50, inf, -inf);
    {
        ProfileFiles files = open_profile_files();
        write_initial_profile(files, 0.0, f.x, f.phi);
        write_profile(files, 1.0, g.x, g.phi);
        write_profile(files, 2.0, f.x, f.phi);
        close_profile_files(files);
    }
    EXPECT_EQ(read_file("phi.xl"),
              "#Time =   0.000000E+00\n"
              " -1.00000000E+00  0.00000000E+00\n"
              "  0.00000000E+00  0.00000000E+00\n"
              "  1.00000000E+00  0.00000000E+00\n"
              "\n\n"
              "#Time =   1.000000E+00\n"
              " -1.00000000E+00  1.00000000E-50\n"
              "  0.00000000E+00        Infinity\n"
              "  1.00000000E+00       -Infinity\n"
              "\n\n"
              "#Time =   2.000000E+00\n"
              " -1.00000000E+00  0.00000000E+00\n"
              "  0.00000000E+00  0.00000000E+00\n"
              "  1.00000000E+00  0.00000000E+00\n"
              "\n\n");
    EXPECT_EQ(read_file("phi.xtl"),
              "  1.00000000E+00 -1.00000000E+00  1.00000000E-50\n\n"
              "  1.00000000E+00  0.00000000E+00        Infinity\n\n"
              "  1.00000000E+00  1.00000000E+00       -Infinity\n\n"
              "\n\n"
              "  2.00000000E+00 -1.00000000E+00  0.00000000E+00\n"
              "  2.00000000E+00  0.00000000E+00  0.00000000E+00\n"
              "  2.00000000E+00  1.00000000E+00  0.00000000E+00\n"
              "\n\n");
}

TEST_F(ProfileFilesTest, SampledPointsForOtherGridSizes) {
    struct sampled {
        std::int32_t nx;
        std::size_t records;
    };
    for (const sampled s :
         {sampled{10, 3}, sampled{0, 1}, sampled{3, 1}, sampled{-1, 0}, sampled{12, 4}}) {
        RunParameters p = grid_parameters(s.nx, 0.0, 1.0, 1.0);
        FieldSet f = make_fields(p);
        fill(f.phi, 0.5);
        {
            ProfileFiles files = open_profile_files();
            write_initial_profile(files, 0.0, f.x, f.phi);
            write_profile(files, 0.25, f.x, f.phi);
            close_profile_files(files);
        }
        const auto xl = split_lines(read_file("phi.xl"));
        const auto xtl = split_lines(read_file("phi.xtl"));
        EXPECT_EQ(xl.size(), 2 * (s.records + 3)) << "nx " << s.nx;
        EXPECT_EQ(xtl.size(), 2 * s.records + 2) << "nx " << s.nx;
    }
}

TEST_F(ProfileFilesTest, LargeOutputGoesThroughTheBufferIntact) {
    RunParameters p = grid_parameters(40000, 0.0, 1.0, 1.0);
    FieldSet f = make_fields(p);
    fill(f.phi, 0.5);
    {
        ProfileFiles files = open_profile_files();
        for (int step = 1; step <= 5; ++step)
            write_profile(files, step, f.x, f.phi);
        close_profile_files(files);
    }
    const auto xtl = split_lines(read_file("phi.xtl"));
    EXPECT_EQ(xtl.size(), 5u * (2 * 10001 + 2));
    EXPECT_EQ(xtl[2 * 10000], "  1.00000000E+00  1.00000000E+00  5.00000000E-01");
}

// Over many buffers' worth of records, every record of both files is made of the fields of its
// own time, x and phi, with the empty lines where they belong; phi takes values of every kind,
// on both sides of the floor.
TEST_F(ProfileFilesTest, EveryRecordCarriesItsOwnFieldsAcrossManyBuffers) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double special[] = {1e-50, -1e-50,      1.0000000000000001e-50, -0.0,   0.0,   nan, inf,
                              -inf,  9.999999995, -9.999999995e99,        1e-300, 5e-324};
    RunParameters p = grid_parameters(100001, -7.0, 13.0, 0.5);
    FieldSet f = make_fields(p);
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-80, 80);
    const double times[] = {0.0, 1.2345678912345678e-3, 2.5e100};
    std::string xl;
    std::string xtl;
    {
        ProfileFiles files = open_profile_files();
        for (const double time : times) {
            for (std::size_t i = 0; i < f.phi.size(); ++i) {
                f.phi.data()[i] = random() % 8 == 0 ? special[random() % std::size(special)]
                                                    : std::ldexp(uniform(random), exponent(random));
            }
            if (time == 0.0) {
                write_initial_profile(files, time, f.x, f.phi);
            } else {
                write_profile(files, time, f.x, f.phi);
            }
            xl += "#Time = " + format_sci(time, 14, 6) + "\n";
            for (std::size_t i = 0; i < f.phi.size(); i += 4) {
                const double value = f.phi.data()[i];
                const bool own = std::fabs(value) > 1e-50;
                const std::string fields =
                    format_sci(f.x.data()[i], 16, 8) + format_sci(own ? value : 0.0, 16, 8);
                xl += fields + "\n";
                if (time != 0.0) xtl += format_sci(time, 16, 8) + fields + (own ? "\n\n" : "\n");
            }
            xl += "\n\n";
            if (time != 0.0) xtl += "\n\n";
        }
        close_profile_files(files);
    }
    ASSERT_GT(xtl.size(), 8u << 18) << "the output should span many buffers";
    // Compared line by line first, so that a failure names the first line that differs.
    const auto xl_lines = split_lines(read_file("phi.xl"));
    const auto xtl_lines = split_lines(read_file("phi.xtl"));
    const auto expected_xl = split_lines(xl);
    const auto expected_xtl = split_lines(xtl);
    ASSERT_EQ(xl_lines.size(), expected_xl.size());
    ASSERT_EQ(xtl_lines.size(), expected_xtl.size());
    for (std::size_t i = 0; i < expected_xl.size(); ++i) {
        ASSERT_EQ(xl_lines[i], expected_xl[i]) << "phi.xl line " << i + 1;
    }
    for (std::size_t i = 0; i < expected_xtl.size(); ++i) {
        ASSERT_EQ(xtl_lines[i], expected_xtl[i]) << "phi.xtl line " << i + 1;
    }
    EXPECT_EQ(read_file("phi.xl"), xl);
    EXPECT_EQ(read_file("phi.xtl"), xtl);
}

TEST_F(ProfileFilesTest, AFileThatCannotBeCreatedStopsTheRun) {
    fs::create_directory("phi.xtl");
    try {
        open_profile_files();
        FAIL() << "a directory named phi.xtl must stop the run";
    } catch (const run_failure& failure) {
        EXPECT_EQ(failure.status, exit_output);
        EXPECT_NE(failure.message.find("phi.xtl"), std::string::npos);
        EXPECT_NE(failure.message.find("Is a directory"), std::string::npos) << failure.message;
    }
    EXPECT_TRUE(fs::is_regular_file("phi.xl"));
    EXPECT_EQ(fs::file_size("phi.xl"), 0u);
}

// A full disk under phi.xtl shows while the steps are written, as soon as its buffer is full.
TEST_F(ProfileFilesTest, AFullDiskStopsTheRunWhileWriting) {
    fs::create_symlink("/dev/full", "phi.xtl");
    RunParameters p = grid_parameters(40000, 0.0, 1.0, 1.0);
    FieldSet f = make_fields(p);
    fill(f.phi, 0.5);
    ProfileFiles files = open_profile_files();
    int steps = 0;
    try {
        for (; steps < 100; ++steps)
            write_profile(files, 1.0, f.x, f.phi);
        FAIL() << "a full disk must stop the run";
    } catch (const run_failure& failure) {
        EXPECT_EQ(failure.status, exit_output);
        EXPECT_NE(failure.message.find("phi.xtl"), std::string::npos) << failure.message;
        EXPECT_NE(failure.message.find("No space left on device"), std::string::npos);
    }
    EXPECT_LT(steps, 2) << "the failure must show at the first full buffer";
}

}  // namespace
