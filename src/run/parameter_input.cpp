#include "run/parameter_input.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "common/run_failure.hpp"
#include "output/console.hpp"
#include "output/console_report.hpp"
#include "run/input_values.hpp"
#include "run/run_warnings.hpp"

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}
bool ends_item(char c) {
    return is_blank(c) || c == ',' || c == '/';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the run of decimal digits at the start of s.
std::size_t digit_run(std::string_view s) {
    std::size_t n = 0;
    while (n < s.size() && is_digit(s[n]))
        ++n;
    return n;
}

[[noreturn]] void refuse(const input_value& field, const std::string& reason) {
    throw run_failure{exit_input, "wave1d: cannot read " + std::string(field.name) + " (" +
                                      std::string(field.prompt) + "): " + reason};
}

// Whether the stream stopped on a read that failed rather than at the end of the input. Standard
// input goes through the C stream, which records the failure; a file stream reports it as bad.
// Either way errno holds the system's reason.
bool read_failed(const std::istream& in) {
    return in.bad() || (&in == &std::cin && std::ferror(stdin) != 0);
}

// A line may be this long at most. Input is read character by character and only the item is
// kept, so a line without end (standard input on /dev/zero, say) is refused after this many
// characters instead of filling memory or being read for ever.
constexpr std::size_t longest_line = 65536;

// Longest part of a line shown in the warning about a decimal comma.
constexpr std::size_t shown_slip = 64;

struct line_item {
    std::string item;
    // When the item ends at a comma followed directly by a digit (a decimal comma or a
    // thousands separator, most likely): the item with what follows it up to the next blank,
    // slash or line end. Empty otherwise.
    std::string comma_slip;
};

// Finds the next item: skips blank lines and leading blanks, cuts the item at a blank, comma,
// slash or line end, and drops the rest of that line.
line_item next_item(std::istream& in, const input_value& field) {
    std::size_t column = 0;
    auto next = [&](char& c) {
        if (!in.get(c)) {
            const int error = errno;
            if (read_failed(in)) {
                refuse(field, std::string("the input cannot be read: ") +
                                  std::strerror(error != 0 ? error : EIO));
            }
            return false;
        }
        column = c == '\n' ? 0 : column + 1;
        if (column > longest_line) {
            refuse(field, "a line is longer than " + std::to_string(longest_line) + " characters");
        }
        return true;
    };

    char c = 0;
    do {
        if (!next(c)) refuse(field, "the input ended before a value was given");
    } while (is_blank(c) || c == '\n');
    if (c == ',') refuse(field, "the line gives a null value (it begins with a comma)");
    if (c == '/') refuse(field, "a slash ends the input before a value was given");

    line_item read{std::string(1, c), {}};
    while (next(c) && c != '\n' && !ends_item(c))
        read.item += c;
    if (in && c == ',' && in.peek() != EOF && is_digit(static_cast<char>(in.peek()))) {
        read.comma_slip = read.item;
        do {
            if (read.comma_slip.size() < shown_slip) read.comma_slip += c;
        } while (next(c) && c != '\n' && !is_blank(c) && c != '/');
    }
    while (in && c != '\n' && next(c)) {
    }
    return read;
}

}  // namespace

std::string quoted(std::string_view item) {
    static constexpr char hex_digits[] = "0123456789ABCDEF";
    std::string text = "\"";
    for (const char c : item) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            text += c;
        } else {
            text += "\\x";
            text += hex_digits[byte >> 4];
            text += hex_digits[byte & 0xF];
        }
    }
    return text + "\"";
}

std::optional<int> parse_integer(std::string_view item) {
    std::string_view digits = item;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
    if (digits.empty() || digit_run(digits) != digits.size()) return std::nullopt;
    // from_chars takes a minus sign but not a plus sign.
    const std::string_view text = item[0] == '+' ? digits : item;
    std::int32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> parse_real(std::string_view item) {
    // Check the form: [sign] (digits [. [digits]] | . digits) [(E|e|D|d) [sign] digits].
    std::size_t pos = 0;
    if (pos < item.size() && (item[pos] == '+' || item[pos] == '-')) ++pos;
    const std::size_t whole = digit_run(item.substr(pos));
    pos += whole;
    std::size_t fraction = 0;
    if (pos < item.size() && item[pos] == '.') {
        ++pos;
        fraction = digit_run(item.substr(pos));
        pos += fraction;
    }
    if (whole + fraction == 0) return std::nullopt;
    const std::size_t mantissa_end = pos;
    if (pos < item.size()) {
        const char letter = item[pos];
        if (letter != 'E' && letter != 'e' && letter != 'D' && letter != 'd') return std::nullopt;
        ++pos;
        if (pos < item.size() && (item[pos] == '+' || item[pos] == '-')) ++pos;
        const std::size_t exponent = digit_run(item.substr(pos));
        if (exponent == 0 || pos + exponent != item.size()) return std::nullopt;
    }

    // Convert in the form from_chars reads: no plus sign in front, the exponent letter 'e'.
    std::string text(item[0] == '+' ? item.substr(1) : item);
    const std::size_t letter_at = mantissa_end - (item[0] == '+' ? 1 : 0);
    if (letter_at < text.size()) text[letter_at] = 'e';

    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too small for a double rounds to zero; too large is refused. The program never sets
        // a locale, so strtod reads the same form here.
        value = std::strtod(text.c_str(), nullptr);
        if (std::isinf(value)) return std::nullopt;
        return value;
    }
    if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

RunParameters read_parameters(std::istream& in, std::FILE* out, std::FILE* err) {
    RunParameters params;
    for (const input_value& field : input_values) {
        write_console(out, " ");
        write_console(out, field.prompt);
        write_console(out, "\n");
        flush_console(out);
        const line_item read = next_item(in, field);

        char shown[64];
        std::string_view value_text;
        if (field.type == value_type::real) {
            const auto value = parse_real(read.item);
            if (!value) {
                refuse(field,
                       quoted(read.item) + " is not a real number within the range of a double");
            }
            params.*field.real_field = *value;
            value_text = summary_number(*value, shown);
        } else {
            const auto value = parse_integer(read.item);
            if (!value) {
                refuse(field,
                       quoted(read.item) + " is not an integer from -2147483648 to 2147483647");
            }
            params.*field.integer_field = *value;
            value_text = read.item;
        }
        if (!read.comma_slip.empty()) {
            write_warning(out, err,
                          {field.name, " read as ", value_text, " from ", quoted(read.comma_slip),
                           ": a comma ends a value"});
        }
        write_console(out, "\n");
    }
    return params;
}
