#include "output/format_sci.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace {

__extension__ typedef unsigned __int128 uint128;

// ---------------------------------------------------------------------------------------------
// Powers of ten as 128-bit binary floating-point numbers, built at compile time.

// 10^p ~ (high * 2^64 + low) * 2^binary_exponent, with high's top bit set. The significand is
// the exact one truncated, so it is low by less than 2^-127 of itself.
struct power_of_ten {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    int binary_exponent = 0;
};

// A non-negative integer of up to 48 * 32 bits, least significant word first.
struct big_integer {
    std::array<std::uint32_t, 48> word{};
};

constexpr int bit_length(const big_integer& b) {
    for (int i = static_cast<int>(b.word.size()) - 1; i >= 0; --i) {
        if (b.word[static_cast<std::size_t>(i)] != 0) {
            return 32 * i + 32 - std::countl_zero(b.word[static_cast<std::size_t>(i)]);
        }
    }
    return 0;
}

// The 64 bits of b from bit position start upwards; positions below 0 read as zero.
constexpr std::uint64_t bits_from(const big_integer& b, int start) {
    const auto word_at = [&b](int index) -> std::uint64_t {
        return index < 0 ? 0 : b.word[static_cast<std::size_t>(index)];
    };
    const int first = start >= 0 ? start / 32 : -((31 - start) / 32);  // rounded down
    const int offset = start - 32 * first;
    const std::uint64_t low = word_at(first) | (word_at(first + 1) << 32);
    const std::uint64_t high = word_at(first + 2);
    return offset == 0 ? low : (low >> offset) | (high << (64 - offset));
}

constexpr void multiply_by_ten(big_integer& b) {
    std::uint64_t carry = 0;
    for (std::uint32_t& w : b.word) {
        const std::uint64_t product = std::uint64_t{w} * 10 + carry;
        w = static_cast<std::uint32_t>(product);
        carry = product >> 32;
    }
}

// b = floor(b / 10).
constexpr void divide_by_ten(big_integer& b) {
    std::uint64_t remainder = 0;
    for (std::size_t i = b.word.size(); i-- > 0;) {
        const std::uint64_t current = (remainder << 32) | b.word[i];
        b.word[i] = static_cast<std::uint32_t>(current / 10);
        remainder = current % 10;
    }
}

// The top 128 bits of b, as a power_of_ten whose value is b * 2^scale.
constexpr power_of_ten leading_bits(const big_integer& b, int scale) {
    const int length = bit_length(b);
    return power_of_ten{bits_from(b, length - 64), bits_from(b, length - 128),
                        length - 128 + scale};
}

// floor(log10(x)) or one less, for x = m * 2^(e - 52) with m in [2^52, 2^53) and e in
// [-1074, 1023]. log2(x) is taken as e + (m - 2^52) / 2^52 with 20 fractional bits, which is
// never above log2(x) and less than 0.09 below it. Multiplied by 315653 / 2^20, which is below
// log10(2) by less than 8e-7, it is less than 0.03 below log10(x) and, for negative e, up to
// 1075 * 8e-7 < 0.001 above it; 0.001 is taken off so that the result is never above.
constexpr int floor_log10_estimate(int e, std::uint64_t m) {
    constexpr std::int64_t log10_2_scaled = 315652;  // log10(2) * 2^20, rounded down
    static_assert(log10_2_scaled / double{1 << 20} < 0.30102999566398120 &&
                  log10_2_scaled / double{1 << 20} > 0.30102999566398120 - 8e-7);
    constexpr std::int64_t one_thousandth = (std::int64_t{1} << 40) / 1000;
    const std::int64_t log2_fixed = std::int64_t{e} * (std::int64_t{1} << 20) +
                                    static_cast<std::int64_t>((m - (std::uint64_t{1} << 52)) >> 32);
    return static_cast<int>((log2_fixed * log10_2_scaled - one_thousandth) >> 40);
}

// The decimal exponents k that rounding starts from or moves to: from one below that of the
// smallest subnormal (4.9e-324) to that of the largest double (1.8e308). Rounding to count
// significant digits, count from 1 to max_fast_sci_digits + 1, needs 10^(count - 1 - k).
constexpr int min_decimal_exponent = -325;
constexpr int max_decimal_exponent = 308;
constexpr int min_power = 0 - max_decimal_exponent;
constexpr int max_power = max_fast_sci_digits - min_decimal_exponent;

constexpr std::array<power_of_ten, max_power - min_power + 1> make_powers_of_ten() {
    std::array<power_of_ten, max_power - min_power + 1> table{};
    big_integer b;
    b.word[0] = 1;
    for (int p = 0; p <= max_power; ++p) {
        table[static_cast<std::size_t>(p - min_power)] = leading_bits(b, 0);
        multiply_by_ten(b);
    }
    // floor(2^1400 / 10^j) keeps well over 128 significant bits for every j needed.
    constexpr int numerator_bits = 1400;
    big_integer r;
    r.word[numerator_bits / 32] = std::uint32_t{1} << (numerator_bits % 32);
    for (int p = -1; p >= min_power; --p) {
        divide_by_ten(r);
        table[static_cast<std::size_t>(p - min_power)] = leading_bits(r, -numerator_bits);
    }
    return table;
}

constexpr auto powers_of_ten = make_powers_of_ten();

constexpr std::array<std::uint64_t, 17> make_integer_powers_of_ten() {
    std::array<std::uint64_t, 17> table{};
    std::uint64_t p = 1;
    for (std::uint64_t& entry : table) {
        entry = p;
        p *= 10;
    }
    return table;
}

constexpr auto integer_powers_of_ten = make_integer_powers_of_ten();

// ---------------------------------------------------------------------------------------------
// Rounding to a number of significant digits.

// |v| rounded to count significant digits: digits * 10^(exponent - count + 1), with digits in
// [10^(count-1), 10^count).
struct rounded_decimal {
    std::uint64_t digits = 0;
    int exponent = 0;
};

// Rounds |v| (finite, non-zero) to count <= max_fast_sci_digits + 1 significant digits.
//
// |v| = m * 2^q with m in [2^52, 2^53). k starts as an estimate of the decimal exponent of |v|
// that is never above it and rarely one below it; N = |v| * 10^(count-1-k) is then at least
// 10^(count-1), and when it reaches 10^count, k is one more. The 128-bit power of ten gives N
// as a 64.64 fixed-point number (integer part and 64-bit fraction), less than 10 units of 2^-64
// below the exact product: the power is low by less than 2^-127 of itself, the product drops
// less than one unit of its lower half and the fraction less than one of its last unit.
//
// Rounding to an integer is decided by the fraction alone. A fraction within 2^12 units of one
// half (exact ties included) cannot be decided this way, and the function returns false for the
// caller to use the exact conversion. Anywhere else the error cannot move N across the half:
// near an integer it can only turn j into j - 1 + 0.99..., which rounds to j all the same.
[[gnu::always_inline]] inline bool round_to_digits(double v, int count, rounded_decimal& result) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    const int biased_exponent = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    int q = 0;
    if (biased_exponent == 0) {
        const int shift = std::countl_zero(m) - 11;
        m <<= shift;
        q = -1074 - shift;
    } else {
        m |= std::uint64_t{1} << 52;
        q = biased_exponent - 1075;
    }

    int k = floor_log10_estimate(q + 52, m);
    const std::uint64_t upper = integer_powers_of_ten[static_cast<std::size_t>(count)];
    for (;;) {
        const power_of_ten& c = powers_of_ten[static_cast<std::size_t>(count - 1 - k - min_power)];
        const uint128 r =
            static_cast<uint128>(m) * c.high + ((static_cast<uint128>(m) * c.low) >> 64);
        // r * 2^-s is N; r in [2^115, 2^117) and N in [1, 10^16) put s in [62, 117). The binary
        // point moves to bit 64.
        const int s = -(q + c.binary_exponent + 64);
        const uint128 fixed = (r << 2) >> (s - 62);
        std::uint64_t integer = static_cast<std::uint64_t>(fixed >> 64);
        const std::uint64_t fraction = static_cast<std::uint64_t>(fixed);
        if (integer >= upper) {
            ++k;  // |v| >= 10^(k+1): one digit fewer before the rounding point
            continue;
        }
        constexpr std::uint64_t half = std::uint64_t{1} << 63;
        constexpr std::uint64_t margin = std::uint64_t{1} << 12;
        if (fraction - (half - margin) <= 2 * margin) return false;
        if (fraction > half) ++integer;
        if (integer == upper) {  // 9.99...95 and above carry into the exponent
            integer = upper / 10;
            ++k;
        }
        result = rounded_decimal{integer, k};
        return true;
    }
}

// ---------------------------------------------------------------------------------------------
// Writing the field.

constexpr std::array<char, 200> make_digit_pairs() {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}

constexpr auto digit_pairs = make_digit_pairs();

void put_pair(char* out, unsigned value) {
    std::memcpy(out, &digit_pairs[2 * value], 2);
}

// Copies text right-aligned into a field of w characters.
void right_align(char* out, int w, const char* text, int length) {
    if (length > w) {
        std::memset(out, '*', static_cast<std::size_t>(w));
        return;
    }
    std::memset(out, ' ', static_cast<std::size_t>(w - length));
    std::memcpy(out + (w - length), text, static_cast<std::size_t>(length));
}

// Writes the field of NaN or an infinity; false for a finite v.
bool write_non_finite(char* out, double v, int w) {
    if (std::isnan(v)) {
        right_align(out, w, "NaN", 3);
        return true;
    }
    if (std::isinf(v)) {
        if (v > 0) {
            right_align(out, w, "Infinity", 8);
        } else {
            right_align(out, w, "-Infinity", 9);
        }
        return true;
    }
    return false;
}

// Writes the n digits of value (below 10^n, leading zeros included) to out[0..n). The number is
// split in halves until pairs are left, so that the divisions do not wait on one another.
template <int n>
[[gnu::always_inline]] inline void write_digits(char* out, std::uint64_t value) {
    if constexpr (n == 1) {
        out[0] = static_cast<char>('0' + value);
    } else if constexpr (n == 2) {
        put_pair(out, static_cast<unsigned>(value));
    } else if constexpr (n > 2) {
        constexpr int low_digits = n / 2;
        constexpr std::uint64_t divisor = integer_powers_of_ten[low_digits];
        if constexpr (n <= 9) {  // 32-bit divisions are cheaper
            const auto narrow = static_cast<std::uint32_t>(value);
            write_digits<n - low_digits>(out, narrow / static_cast<std::uint32_t>(divisor));
            write_digits<low_digits>(out + (n - low_digits),
                                     narrow % static_cast<std::uint32_t>(divisor));
        } else {
            write_digits<n - low_digits>(out, value / divisor);
            write_digits<low_digits>(out + (n - low_digits), value % divisor);
        }
    }
}

// Writes [-]d.ddd followed by E+dd, E-dd, +ddd or -ddd right-aligned in w characters: the d + 1
// digits of decimal.digits (zero for a zero value) and its exponent.
template <int d>
[[gnu::always_inline]] inline void write_decimal(char* out, bool negative,
                                                 const rounded_decimal& decimal, int w) {
    const int length = d + 6 + (negative ? 1 : 0);
    if (length > w) {
        std::memset(out, '*', static_cast<std::size_t>(w));
        return;
    }
    std::memset(out, ' ', static_cast<std::size_t>(w));
    char* p = out + (w - length);
    if (negative) *p++ = '-';

    constexpr std::uint64_t after_point = integer_powers_of_ten[d];
    const std::uint64_t lead = decimal.digits / after_point;
    p[0] = static_cast<char>('0' + lead);
    p[1] = '.';
    write_digits<d>(p + 2, decimal.digits - lead * after_point);
    p += d + 2;

    const int e = decimal.exponent;
    const unsigned magnitude = static_cast<unsigned>(e < 0 ? -e : e);
    if (magnitude < 100) {
        p[0] = 'E';
        p[1] = e < 0 ? '-' : '+';
        put_pair(p + 2, magnitude);
    } else {
        p[0] = e < 0 ? '-' : '+';
        p[1] = static_cast<char>('0' + magnitude / 100);
        put_pair(p + 2, magnitude % 100);
    }
}

// The field of a finite or non-finite v with d digits after the point.
template <int d>
[[gnu::always_inline]] inline void format_field(char* out, double v, int w) {
    static_assert(d <= max_fast_sci_digits);
    rounded_decimal decimal;
    if (std::isfinite(v) && (v == 0 || round_to_digits(v, d + 1, decimal))) {
        write_decimal<d>(out, std::signbit(v), decimal, w);
    } else {
        format_sci_exact_into(out, v, w, d);
    }
}

template <int... ds>
void format_field_with_digits(char* out, double v, int w, int d,
                              std::integer_sequence<int, ds...>) {
    // Calls format_field<d> for the d among ds; false when there is none.
    const bool done = ((d == ds ? (format_field<ds>(out, v, w), true) : false) || ...);
    if (!done) format_sci_exact_into(out, v, w, d);
}

}  // namespace

void format_sci_into(char* out, double v, int w, int d) {
    // The program's three shapes get the field laid out for a constant width.
    if (w == 16 && d == 8) {
        format_field<8>(out, v, 16);
    } else if (w == 14 && d == 6) {
        format_field<6>(out, v, 14);
    } else if (w == 9 && d == 2) {
        format_field<2>(out, v, 9);
    } else {
        format_field_with_digits(out, v, w, d,
                                 std::make_integer_sequence<int, max_fast_sci_digits + 1>{});
    }
}

void format_sci_exact_into(char* out, double v, int w, int d) {
    if (write_non_finite(out, v, w)) return;

    // The text is at least "d." and d digits and four characters of exponent, one more with a
    // minus sign. A field too narrow for that is asterisks whatever d is, which also keeps the
    // text below within the buffers.
    const int sign_length = std::signbit(v) ? 1 : 0;
    if (d > w - 6 - sign_length) {
        std::memset(out, '*', static_cast<std::size_t>(w));
        return;
    }

    // to_chars rounds from the exact binary value: "-d.ddde+XX" or "d.ddde-XXX".
    char digits[max_sci_width + 16];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, v, std::chars_format::scientific, d);
    if (result.ec != std::errc{}) {
        std::memset(out, '*', static_cast<std::size_t>(w));
        return;
    }
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
