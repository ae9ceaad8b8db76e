// Fuzzes the reading of the start-up dialogue: the two item conversions against an independent
// description of the accepted forms, and the whole dialogue on arbitrary input text.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>

#include "common/run_failure.hpp"
#include "fuzz_check.hpp"
#include "run/parameter_input.hpp"

namespace {

// Longer items are still converted, but not compared with the regular expressions, whose
// matching recurses once per character.
constexpr std::size_t longest_checked_item = 256;

const std::regex& integer_form() {
    static const std::regex form("[+-]?[0-9]+");
    return form;
}

const std::regex& real_form() {
    static const std::regex form("[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([EeDd][+-]?[0-9]+)?");
    return form;
}

void check_integer(const std::string& item) {
    const auto value = parse_integer(item);
    if (item.size() > longest_checked_item) return;
    if (!std::regex_match(item, integer_form())) {
        require(!value, "parse_integer accepts only a sign and decimal digits");
        return;
    }
    errno = 0;
    const long long expected = std::strtoll(item.c_str(), nullptr, 10);
    const bool in_range = errno == 0 && expected >= std::numeric_limits<std::int32_t>::min() &&
                          expected <= std::numeric_limits<std::int32_t>::max();
    require(value.has_value() == in_range, "parse_integer accepts exactly the 32-bit range");
    if (value) require(*value == expected, "parse_integer gives the decimal value");
}

void check_real(const std::string& item) {
    const auto value = parse_real(item);
    if (value) require(std::isfinite(*value), "parse_real gives a finite double");
    if (item.size() > longest_checked_item) return;
    if (!std::regex_match(item, real_form())) {
        require(!value, "parse_real accepts only the decimal forms");
        return;
    }
    // strtod reads the same value once the exponent letter is an e.
    std::string text = item;
    for (char& c : text) {
        if (c == 'D' || c == 'd' || c == 'E') c = 'e';
    }
    const double expected = std::strtod(text.c_str(), nullptr);
    require(value.has_value() == !std::isinf(expected),
            "parse_real refuses exactly the values too large for a double");
    if (value) {
        require(std::memcmp(&*value, &expected, sizeof expected) == 0,
                "parse_real gives the correctly rounded double, sign of zero included");
    }
}

// The dialogue either fills all twelve values, with a prompt line and an empty line for each,
// or stops with exit_input and a one-line message right after the prompt it could not answer.
void check_dialogue(const std::string& input) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* console = open_memstream(&buffer, &size);
    require(console != nullptr, "open_memstream works");
    std::istringstream in(input);
    bool complete = false;
    try {
        static std::FILE* warnings = std::fopen("/dev/null", "w");
        require(warnings != nullptr, "/dev/null opens");
        read_parameters(in, console, warnings);
        complete = true;
    } catch (const run_failure& failure) {
        require(failure.status == exit_input, "a refused value stops with exit_input");
        require(failure.message.rfind("wave1d: cannot read ", 0) == 0,
                "the message names the value that could not be read");
        for (const char c : failure.message) {
            require(c >= 0x20 && c < 0x7F, "the message is one line of printable characters");
        }
    }
    std::fclose(console);
    const std::string text(buffer, size);
    std::free(buffer);

    std::size_t lines = 0;
    for (const char c : text)
        lines += c == '\n' ? 1 : 0;
    require(!text.empty() && text.back() == '\n', "the console ends with a whole line");
    const bool ends_with_empty_line = text.size() >= 2 && text[text.size() - 2] == '\n';
    if (complete) {
        require(lines == 24 && ends_with_empty_line, "twelve prompts and twelve empty lines");
    } else {
        require(lines % 2 == 1 && lines < 24 && !ends_with_empty_line,
                "a refusal comes right after its prompt");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    check_integer(input);
    check_real(input);
    check_dialogue(input);
    return 0;
}
