#include "output/console_report.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "common/run_failure.hpp"
#include "support/run_wave1d.hpp"
#include "support/test_fields.hpp"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

GridFunction values(std::initializer_list<double> list) {
    RunParameters p = grid_parameters(static_cast<std::int32_t>(list.size()) - 1, 0, 1, 1);
    FieldSet f = make_fields(p);
    assign(f.phi, list);
    return std::move(f.phi);
}

// Captures what a printing function writes.
template <typename Print>
std::string captured(Print print) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    print(out);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(Maxval, LargestSignedValueSkippingNaN) {
    EXPECT_EQ(maxval(values({-1.0, -0.5, -0.001, -0.75})), -0.001);
    EXPECT_EQ(maxval(values({nan, 2.0, nan, 3.0, nan})), 3.0);
    EXPECT_EQ(maxval(values({1.0, inf, nan})), inf);
    EXPECT_EQ(maxval(values({-inf, -inf})), -inf);
    EXPECT_TRUE(std::isnan(maxval(values({nan, nan, nan}))));
    EXPECT_EQ(maxval(values({})), std::numeric_limits<double>::lowest());
    // Of two equal values the first one met stays: +0 then -0 gives +0, and the reverse -0.
    EXPECT_FALSE(std::signbit(maxval(values({0.0, -0.0}))));
    EXPECT_TRUE(std::signbit(maxval(values({nan, -0.0, 0.0}))));
}

TEST(ConsoleReport, TableLinesAndColumns) {
    const std::string header = captured([](std::FILE* out) { print_table_header(out); });
    EXPECT_EQ(header,
              "  -------------------------------\n"
              "  |     Time     |  Maxval(phi) |\n"
              "  -------------------------------\n");
    const std::string rows = captured([](std::FILE* out) {
        print_table_row(0.0, values({0.25, 1.0, nan}), out);
        print_table_row(0.5, values({0.75}), out);
        print_table_row(1.5e120, values({nan}), out);
        print_table_row(-2.0, values({}), out);
        print_table_row(9.996, values({-inf, inf}), out);
        print_closing_rule(out);
    });
    EXPECT_EQ(rows,
              "  |   0.00E+00    |  1.00E+00  |\n"
              "  |   5.00E-01    |  7.50E-01  |\n"
              "  |   1.50+120    |       NaN  |\n"
              "  |  -2.00E+00    | -1.80+308  |\n"
              "  |   1.00E+01    |  Infinity  |\n"
              "  ------------------------------\n");
    for (const std::string& line : split_lines(rows)) {
        if (line[2] != '|') continue;
        EXPECT_EQ(line.size(), 32u);
        EXPECT_EQ(line[18], '|');
        EXPECT_EQ(line[31], '|');
    }
}

TEST(ConsoleReport, SummaryNumbersReadBackAsTheSameDouble) {
    RunParameters p;
    p.xmin = -2.0;
    p.xmax = 0.1;
    p.center = 1e-300;
    p.dx = 0.30000000000000004;
    p.dt = 0.1;
    EXPECT_EQ(captured([&](std::FILE* out) { print_grid_summary(p, out); }),
              " xmin= -2\n xmax= 0.1\n center= 1e-300\n dx= 0.30000000000000004\n dt= 0.1\n"
              " courant= 0.3333333333333333\n");
    // xmax equal to xmin: dx = dt = 0 and their quotient is NaN.
    p.dx = 0.0;
    p.dt = 0.0;
    p.xmin = nan;
    p.xmax = inf;
    p.center = -inf;
    EXPECT_EQ(captured([&](std::FILE* out) { print_grid_summary(p, out); }),
              " xmin= NaN\n xmax= Infinity\n center= -Infinity\n dx= 0\n dt= 0\n"
              " courant= NaN\n");
}

TEST(ConsoleReport, AFailedWriteStopsTheRun) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    try {
        print_table_header(full);
        FAIL() << "a write to /dev/full must stop the run";
    } catch (const run_failure& failure) {
        EXPECT_EQ(failure.status, exit_output);
        EXPECT_NE(failure.message.find("No space left on device"), std::string::npos);
    }
    std::fclose(full);
}

}  // namespace
