#include "run/parameter_input.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "common/run_failure.hpp"
#include "support/run_wave1d.hpp"

namespace {

TEST(ParseInteger, AcceptsSignedDecimalDigitsWithinThirtyTwoBits) {
    EXPECT_EQ(parse_integer("42"), 42);
    EXPECT_EQ(parse_integer("+7"), 7);
    EXPECT_EQ(parse_integer("-0"), 0);
    EXPECT_EQ(parse_integer("007"), 7);
    EXPECT_EQ(parse_integer("2147483647"), 2147483647);
    EXPECT_EQ(parse_integer("-2147483648"), -2147483647 - 1);
}

TEST(ParseInteger, RefusesAnythingElse) {
    for (const char* item : {"2147483648", "-2147483649", "12345678901", "100.0", "1e3", "abc", "",
                             "+", "-", "+-1", "1-", "0x10", "1d0"}) {
        EXPECT_FALSE(parse_integer(item).has_value()) << item;
    }
}

TEST(ParseReal, AcceptsFortranStyleForms) {
    EXPECT_EQ(parse_real("-10"), -10.0);
    EXPECT_EQ(parse_real("0.5"), 0.5);
    EXPECT_EQ(parse_real("1.0d-2"), 0.01);
    EXPECT_EQ(parse_real("2.5E1"), 25.0);
    EXPECT_EQ(parse_real("2.0D0"), 2.0);
    EXPECT_EQ(parse_real("3e+2"), 300.0);
    EXPECT_EQ(parse_real("5."), 5.0);
    EXPECT_EQ(parse_real(".5"), 0.5);
    EXPECT_EQ(parse_real("-.5e1"), -5.0);
    EXPECT_EQ(parse_real("+3"), 3.0);
    EXPECT_EQ(parse_real("0.1"), 0.1);
    EXPECT_EQ(parse_real("1.7976931348623157e308"), 1.7976931348623157e308);
}

TEST(ParseReal, RoundsTinyValuesAndKeepsTheSignOfZero) {
    EXPECT_EQ(parse_real("4.9e-324"), 4.9406564584124654e-324);
    const auto tiny = parse_real("-1e-400");
    ASSERT_TRUE(tiny.has_value());
    EXPECT_EQ(*tiny, 0.0);
    EXPECT_TRUE(std::signbit(*tiny));
    EXPECT_TRUE(std::signbit(*parse_real("-0.0")));
}

TEST(ParseReal, RefusesMalformedAndOverflowingItems) {
    for (const char* item : {"", ".", "-", "e5", "1e", "1e+", "d2", "abc", "1.2.3", "1e400",
                             "-1d999", "inf", "nan", "Infinity", "0x10", "1,5", "1 5", "1.0q0"}) {
        EXPECT_FALSE(parse_real(item).has_value()) << item;
    }
}

// The dialogue run on a string of input, with the console captured.
struct dialogue {
    RunParameters params;
    std::string console;
    bool failed = false;
    int status = 0;
    std::string message;
};

dialogue run_dialogue(const std::string& input) {
    dialogue result;
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    std::istringstream in(input);
    try {
        result.params = read_parameters(in, out);
    } catch (const run_failure& failure) {
        result.failed = true;
        result.status = failure.status;
        result.message = failure.message;
    }
    std::fclose(out);
    result.console.assign(buffer, size);
    std::free(buffer);
    return result;
}

const std::string good_input = "-1\n1\n100\n0.5\n10\n2\n1\n0.1\n0\n5\n0\n1\n";

TEST(ReadParameters, PromptsForEachValueInOrderAndFillsEveryField) {
    const dialogue d = run_dialogue(good_input);
    ASSERT_FALSE(d.failed) << d.message;
    EXPECT_EQ(d.console, dialogue_transcript);
    const RunParameters& p = d.params;
    EXPECT_EQ(p.xmin, -1.0);
    EXPECT_EQ(p.xmax, 1.0);
    EXPECT_EQ(p.nx, 100);
    EXPECT_EQ(p.courant, 0.5);
    EXPECT_EQ(p.nt, 10);
    EXPECT_EQ(p.boundtype, 2);
    EXPECT_EQ(p.amplitude, 1.0);
    EXPECT_EQ(p.width, 0.1);
    EXPECT_EQ(p.center, 0.0);
    EXPECT_EQ(p.every_1D, 5);
    EXPECT_EQ(p.lapsetype, 0);
    EXPECT_EQ(p.shifttype, 1);
}

TEST(ReadParameters, TakesOneItemPerLineAndSkipsBlankLines) {
    // "1, 2" gives xmin = 1 and the 2 is lost; blank lines and leading blanks are skipped;
    // items end at a blank, a comma or a slash; CR line ends and tabs count as blanks.
    const dialogue d =
        run_dialogue("1, 2\n\n   \n\t  3 4\n8/\n 2.0D0,\r\n0\r\n-1\n.5\n5.\n1e-1\n-3\n7\n9\n");
    ASSERT_FALSE(d.failed) << d.message;
    EXPECT_EQ(d.params.xmin, 1.0);
    EXPECT_EQ(d.params.xmax, 3.0);
    EXPECT_EQ(d.params.nx, 8);
    EXPECT_EQ(d.params.courant, 2.0);
    EXPECT_EQ(d.params.nt, 0);
    EXPECT_EQ(d.params.boundtype, -1);
    EXPECT_EQ(d.params.amplitude, 0.5);
    EXPECT_EQ(d.params.width, 5.0);
    EXPECT_EQ(d.params.center, 0.1);
    EXPECT_EQ(d.params.every_1D, -3);
    EXPECT_EQ(d.params.lapsetype, 7);
    EXPECT_EQ(d.params.shifttype, 9);
    // Blank lines do not repeat the prompt.
    EXPECT_EQ(d.console.find(" The right end of the spatial domain\n\n Number"),
              d.console.find(" The right end of the spatial domain"));
}

TEST(ReadParameters, RefusalsNameTheValueAndStopRightAfterItsPrompt) {
    struct refusal {
        std::string input;
        std::string field;
        std::string reason;
    };
    const refusal cases[] = {
        {"", "xmin", "input ended"},
        {"0\n1\n", "nx", "input ended"},
        {"0\n1\n100.0\n", "nx", "\"100.0\" is not an integer"},
        {"0\n1\nten\n", "nx", "\"ten\" is not an integer"},
        {"0\n1\n12345678901\n", "nx", "\"12345678901\""},
        {"0\n1\n2147483648\n", "nx", "\"2147483648\""},
        {",5\n", "xmin", "null value"},
        {"  , 5\n", "xmin", "null value"},
        {"/\n", "xmin", "slash"},
        {"0\nabc\n", "xmax", "\"abc\" is not a real number"},
        {"0\n1e999\n", "xmax", "\"1e999\""},
    };
    for (const refusal& r : cases) {
        const dialogue d = run_dialogue(r.input);
        ASSERT_TRUE(d.failed) << r.input;
        EXPECT_EQ(d.status, exit_input);
        EXPECT_NE(d.message.find("cannot read " + r.field + " ("), std::string::npos) << d.message;
        EXPECT_NE(d.message.find(r.reason), std::string::npos) << d.message;
        EXPECT_EQ(d.message.find('\n'), std::string::npos) << "one line: " << d.message;
        // The console ends with the refused value's prompt: no empty line, nothing after it.
        ASSERT_GE(d.console.size(), 2u);
        EXPECT_EQ(d.console.back(), '\n');
        EXPECT_NE(d.console.substr(d.console.size() - 2), "\n\n");
    }
}

}  // namespace
