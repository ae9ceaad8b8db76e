#include "output/format_sci.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

TEST(FormatSci, ExamplesInAllThreeWidths) {
    struct example {
        double value;
        const char* w9;
        const char* w14;
        const char* w16;
    };
    const example examples[] = {
        {0.0, " 0.00E+00", "  0.000000E+00", "  0.00000000E+00"},
        {-1.0, "-1.00E+00", " -1.000000E+00", " -1.00000000E+00"},
        {0.75, " 7.50E-01", "  7.500000E-01", "  7.50000000E-01"},
        {1.0e100, " 1.00+100", "  1.000000+100", "  1.00000000+100"},
        {-1.0e-300, "-1.00-300", " -1.000000-300", " -1.00000000-300"},
        {-0.0, "-0.00E+00", " -0.000000E+00", " -0.00000000E+00"},
        {inf, " Infinity", "      Infinity", "        Infinity"},
        {-inf, "-Infinity", "     -Infinity", "       -Infinity"},
        {std::numeric_limits<double>::quiet_NaN(), "      NaN", "           NaN",
         "             NaN"},
    };
    for (const example& e : examples) {
        EXPECT_EQ(format_sci(e.value, 9, 2), e.w9) << e.value;
        EXPECT_EQ(format_sci(e.value, 14, 6), e.w14) << e.value;
        EXPECT_EQ(format_sci(e.value, 16, 8), e.w16) << e.value;
    }
}

TEST(FormatSci, RoundsFromTheExactBinaryValueAndCarriesIntoTheExponent) {
    EXPECT_EQ(format_sci(9.996, 9, 2), " 1.00E+01");
    EXPECT_EQ(format_sci(-9.9999999999, 16, 8), " -1.00000000E+01");
    EXPECT_EQ(format_sci(9.995e99, 9, 2), " 1.00+100") << "the carry reaches three digits";
    EXPECT_EQ(format_sci(1.5e120, 9, 2), " 1.50+120");
    // 0.125 is exact; 0.145 is stored as 0.14499999999999999 and rounds down.
    EXPECT_EQ(format_sci(0.145, 9, 2), " 1.45E-01");
    EXPECT_EQ(format_sci(0.30000000000000004, 16, 8), "  3.00000000E-01");
    EXPECT_EQ(format_sci(2.675, 9, 2), " 2.67E+00") << "2.675 is 2.67499999... in binary";
    EXPECT_EQ(format_sci(1e99, 9, 2), " 1.00E+99");
    EXPECT_EQ(format_sci(1e-99, 9, 2), " 1.00E-99");
    EXPECT_EQ(format_sci(1e-100, 9, 2), " 1.00-100");
}

TEST(FormatSci, ExtremeAndSubnormalDoubles) {
    const double largest = std::numeric_limits<double>::max();
    EXPECT_EQ(format_sci(largest, 16, 8), "  1.79769313+308");
    EXPECT_EQ(format_sci(-largest, 9, 2), "-1.80+308");
    EXPECT_EQ(format_sci(std::numeric_limits<double>::min(), 16, 8), "  2.22507386-308");
    EXPECT_EQ(format_sci(std::numeric_limits<double>::denorm_min(), 16, 8), "  4.94065646-324");
    EXPECT_EQ(format_sci(-std::numeric_limits<double>::denorm_min(), 9, 2), "-4.94-324");
}

TEST(FormatSci, OtherWidthsPadOrMarkOverflow) {
    EXPECT_EQ(format_sci(1.0, 12, 2), "    1.00E+00");
    EXPECT_EQ(format_sci(-1.0, 8, 2), "********");
    EXPECT_EQ(format_sci(5.0, 7, 0), " 5.E+00");
    EXPECT_EQ(format_sci(-5.0, 5, 0), "*****");
}

}  // namespace
