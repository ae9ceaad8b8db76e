#pragma once

#include <cstddef>
#include <string>

// Widest field format_sci_into writes.
inline constexpr int max_sci_width = 64;

// Writes v in scientific notation, right-aligned in exactly w characters, into out[0..w):
// an optional minus sign (negative zero included), one digit, a point, d digits, then the
// exponent as E+dd / E-dd, or +ddd / -ddd without the letter E when its magnitude is 100 or
// more. The digits are rounded to nearest from the exact value of the double. NaN, +infinity
// and -infinity are written "NaN", "Infinity" and "-Infinity". A text wider than w (never the
// case for the widths this program uses) fills the field with asterisks. No terminating NUL.
// Needs 0 <= d and 0 < w <= max_sci_width.
void format_sci_into(char* out, double v, int w, int d);

// The same field as a string of exactly w characters.
std::string format_sci(double v, int w, int d);
