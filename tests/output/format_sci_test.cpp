#include "output/format_sci.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

struct width_and_digits {
    int w;
    int d;
};

// The three fields the program writes.
constexpr width_and_digits program_fields[] = {{9, 2}, {14, 6}, {16, 8}};

// Compares the fast field with the exact one for every value and reports the first few that
// differ, with their bit patterns so that a failure can be reproduced.
void expect_same_as_exact(const std::vector<double>& values, width_and_digits f, const char* what) {
    char fast[max_sci_width];
    char exact[max_sci_width];
    std::size_t mismatches = 0;
    std::string report;
    for (const double v : values) {
        format_sci_into(fast, v, f.w, f.d);
        format_sci_exact_into(exact, v, f.w, f.d);
        const std::string a(fast, static_cast<std::size_t>(f.w));
        const std::string b(exact, static_cast<std::size_t>(f.w));
        if (a != b && ++mismatches <= 5) {
            char bits[32];
            *std::to_chars(bits, bits + 31, std::bit_cast<std::uint64_t>(v), 16).ptr = '\0';
            report += "\n  0x" + std::string(bits) + ": \"" + a + "\" instead of \"" + b + "\"";
        }
    }
    EXPECT_EQ(mismatches, 0u) << what << ", w " << f.w << ", d " << f.d << report;
}

double from_text(const std::string& text) {
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

// v and its neighbours up to `steps` representable doubles away on either side.
void add_with_neighbours(std::vector<double>& values, double v, int steps) {
    values.push_back(v);
    double below = v;
    double above = v;
    for (int i = 0; i < steps; ++i) {
        below = std::nextafter(below, -inf);
        above = std::nextafter(above, inf);
        values.push_back(below);
        values.push_back(above);
    }
}

// Doubles of every kind drawn from their bit patterns: all exponents, subnormals, zeros,
// infinities and NaNs.
std::vector<double> random_bit_patterns(std::size_t count, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::vector<double> values(count);
    for (double& v : values)
        v = std::bit_cast<double>(random());
    return values;
}

// The doubles nearest to the decimal numbers halfway between two results with d digits, and
// their neighbours, over the whole exponent range, of both signs.
std::vector<double> near_halfway(int d, std::size_t count, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::uniform_int_distribution<int> digit(0, 9);
    std::uniform_int_distribution<int> exponent(-325, 309);
    std::vector<double> values;
    for (std::size_t i = 0; i < count; ++i) {
        std::string text = random() % 2 == 0 ? "-" : "";
        text += static_cast<char>('1' + digit(random) % 9);
        text += '.';
        for (int k = 0; k < d; ++k)
            text += static_cast<char>('0' + digit(random));
        text += "5e" + std::to_string(exponent(random));
        add_with_neighbours(values, from_text(text), 2);
    }
    return values;
}

// Powers of ten, the values just below them that round up into the next exponent
// (9.99...95e k), the subnormal range, the largest and smallest doubles, and small odd
// multiples of powers of two, whose short exact expansions give the true halfway cases.
std::vector<double> boundary_values(int d, std::uint64_t seed) {
    std::vector<double> values;
    for (int k = -325; k <= 309; ++k) {
        add_with_neighbours(values, from_text("1e" + std::to_string(k)), 3);
        add_with_neighbours(values,
                            from_text("9." + std::string(static_cast<std::size_t>(d), '9') + "5e" +
                                      std::to_string(k)),
                            3);
    }
    add_with_neighbours(values, std::numeric_limits<double>::max(), 8);
    add_with_neighbours(values, std::numeric_limits<double>::min(), 8);
    add_with_neighbours(values, std::numeric_limits<double>::denorm_min(), 8);
    add_with_neighbours(values, 0.0, 8);
    std::mt19937_64 random(seed);
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t mantissa = random() >> (12 + random() % 52);
        values.push_back(std::bit_cast<double>(mantissa | (random() & (std::uint64_t{1} << 63))));
    }
    for (int a = 1; a < 4096; a += 2) {
        for (int j = -60; j <= 60; ++j) {
            values.push_back(std::ldexp(a, j));
            values.push_back(-std::ldexp(a, j));
        }
    }
    return values;
}

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

// Any width and precision a caller may pass: the digits where they fit, asterisks where they
// do not, however many digits are asked for, and the names of the non-finite values.
TEST(FormatSci, OtherWidthsAndPrecisionsPadOrMarkOverflow) {
    const std::string ones = "1." + std::string(57, '0');
    struct example {
        double value;
        int w;
        int d;
        std::string field;
    };
    const example examples[] = {
        {1.0, 12, 2, "    1.00E+00"},
        {-1.0, 8, 2, "********"},
        {5.0, 7, 0, " 5.E+00"},
        {-5.0, 5, 0, "*****"},
        {1.0, max_sci_width, 57, " " + ones + "E+00"},
        {-1.0, max_sci_width, 57, "-" + ones + "E+00"},
        {1.0, max_sci_width, 58, ones + "0E+00"},
        {-1.0, max_sci_width, 58, std::string(max_sci_width, '*')},
        {0.1, max_sci_width, 59, std::string(max_sci_width, '*')},
        {1e300, max_sci_width, 72, std::string(max_sci_width, '*')},
        {-2.5e-310, max_sci_width, 1000, std::string(max_sci_width, '*')},
        {3.0, 1, std::numeric_limits<int>::max(), "*"},
        {-inf, 9, 100, "-Infinity"},
        {std::numeric_limits<double>::quiet_NaN(), 4, 1000, " NaN"},
    };
    for (const example& e : examples) {
        EXPECT_EQ(format_sci(e.value, e.w, e.d), e.field)
            << e.value << ", w " << e.w << ", d " << e.d;
        char exact[max_sci_width];
        format_sci_exact_into(exact, e.value, e.w, e.d);
        EXPECT_EQ(std::string(exact, static_cast<std::size_t>(e.w)), e.field)
            << "exact, " << e.value << ", w " << e.w << ", d " << e.d;
    }
}

TEST(FormatSci, FastFieldsEqualTheExactConversionForEveryKindOfDouble) {
    std::uint64_t seed = 1;
    for (const width_and_digits f : program_fields) {
        expect_same_as_exact(random_bit_patterns(3000000, ++seed), f, "random bit patterns");
        expect_same_as_exact(near_halfway(f.d, 300000, ++seed), f, "near halfway");
        expect_same_as_exact(boundary_values(f.d, ++seed), f, "boundaries");
    }
}

TEST(FormatSci, FastFieldsEqualTheExactConversionForOtherPrecisions) {
    std::uint64_t seed = 100;
    for (int d = 0; d <= 20; ++d) {
        const width_and_digits f{d + 7, d};
        expect_same_as_exact(random_bit_patterns(100000, ++seed), f, "random bit patterns");
        expect_same_as_exact(near_halfway(d, 20000, ++seed), f, "near halfway");
    }
    // Narrow fields overflow the same way.
    expect_same_as_exact(random_bit_patterns(10000, 7), {8, 2}, "narrow");
    expect_same_as_exact(random_bit_patterns(10000, 8), {3, 0}, "narrow");
}

TEST(FormatSci, ExactHalfwayValuesRoundToEven) {
    EXPECT_EQ(format_sci(1.125, 9, 2), " 1.12E+00");
    EXPECT_EQ(format_sci(1.375, 9, 2), " 1.38E+00");
    EXPECT_EQ(format_sci(-1.125, 9, 2), "-1.12E+00");
    EXPECT_EQ(format_sci(0.0048828125, 14, 6), "  4.882812E-03");
    EXPECT_EQ(format_sci(1234567885.0, 16, 8), "  1.23456788E+09");
    EXPECT_EQ(format_sci(1234567895.0, 16, 8), "  1.23456790E+09");
    EXPECT_EQ(format_sci(9999999995.0, 16, 8), "  1.00000000E+10");
}

}  // namespace
