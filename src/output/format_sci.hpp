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
// case for the widths this program uses) fills the field with asterisks; so does a finite v
// with any d above w - 6, however large. No terminating NUL. Needs 0 <= d and
// 0 < w <= max_sci_width.
//
// The digits come from a 128-bit product with a power of ten; the rare values that lie too
// close to halfway between two results for that product to decide, and precisions beyond
// max_fast_sci_digits, go through format_sci_exact_into. Both write the same characters.
void format_sci_into(char* out, double v, int w, int d);

// The same field as a string of exactly w characters.
std::string format_sci(double v, int w, int d);

// The largest d that format_sci_into rounds with the 128-bit product.
inline constexpr int max_fast_sci_digits = 14;

// The same field as format_sci_into, with the digits from std::to_chars with a precision, which
// works on the exact binary value. The reference the fast path is checked against.
void format_sci_exact_into(char* out, double v, int w, int d);
