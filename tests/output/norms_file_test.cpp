// The numbers of norms.tsv: the shortest text that reads back as the same double, in the forms
// every reader takes, however long the number.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "output/norms_file.hpp"

namespace {

TEST(NormsFile, NumbersAreShortestRoundTripsAndNonFiniteWordsReadersTake) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double value;
        std::string text;
    } cases[] = {
        {0.0, "0"},         {-0.0, "-0"},
        {0.1, "0.1"},       {1.0000000000000004, "1.0000000000000004"},
        {1e22, "1e+22"},    {-2.2250738585072014e-308, "-2.2250738585072014e-308"},
        {5e-324, "5e-324"}, {inf, "inf"},
        {-inf, "-inf"},     {nan, "nan"},
        {-nan, "nan"},
    };
    for (const auto& c : cases) {
        char text[longest_norm + 1];
        char* end = format_norm(text, c.value);
        ASSERT_LE(end - text, static_cast<std::ptrdiff_t>(longest_norm));
        EXPECT_EQ(std::string(text, end), c.text);
        if (!std::isnan(c.value)) {
            EXPECT_EQ(std::strtod(c.text.c_str(), nullptr), c.value) << c.text;
        }
    }
}

}  // namespace
