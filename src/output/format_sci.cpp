#include "output/format_sci.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// Copies text right-aligned into a field of w characters.
void right_align(char* out, int w, const char* text, int length) {
    if (length > w) {
        std::memset(out, '*', static_cast<std::size_t>(w));
        return;
    }
    std::memset(out, ' ', static_cast<std::size_t>(w - length));
    std::memcpy(out + (w - length), text, static_cast<std::size_t>(length));
}

}  // namespace

void format_sci_into(char* out, double v, int w, int d) {
    if (std::isnan(v)) {
        right_align(out, w, "NaN", 3);
        return;
    }
    if (std::isinf(v)) {
        if (v > 0) {
            right_align(out, w, "Infinity", 8);
        } else {
            right_align(out, w, "-Infinity", 9);
        }
        return;
    }

    // to_chars rounds from the exact binary value: "-d.ddde+XX" or "d.ddde-XXX".
    char digits[max_sci_width + 16];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, v, std::chars_format::scientific, d);
    const char* end = result.ptr;
    const char* e = static_cast<const char*>(std::memchr(digits, 'e', end - digits));
    const int mantissa_length = static_cast<int>(e - digits);
    const char exponent_sign = e[1];
    const char* exponent_digits = e + 2;
    const int exponent_length = static_cast<int>(end - exponent_digits);

    char text[max_sci_width + 16];
    int length = 0;
    std::memcpy(text, digits, static_cast<std::size_t>(mantissa_length));
    length += mantissa_length;
    if (d == 0) text[length++] = '.';  // to_chars leaves out the point when there are no digits
    if (exponent_length < 3) {
        text[length++] = 'E';
    }
    text[length++] = exponent_sign;
    std::memcpy(text + length, exponent_digits, static_cast<std::size_t>(exponent_length));
    length += exponent_length;
    right_align(out, w, text, length);
}

std::string format_sci(double v, int w, int d) {
    std::string field(static_cast<std::size_t>(w), ' ');
    format_sci_into(field.data(), v, w, d);
    return field;
}
