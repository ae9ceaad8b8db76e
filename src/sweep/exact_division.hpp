#pragma once

// Division by dx without the divider instruction, for the vector kernels of the sweep.
// This is the one place where an explicit fused multiply-add is used, and only to divide exactly,
// never to contract a formula. With d = |dx| and y = 1/d rounded to nearest (once per run):
//   q0 = a*y,   t = fma(q0, d, -a) = -(a - q0*d),   q = fma(-t, y, q0)
// t is exact, and q = RN(q0 + (a - q0*d)*y) is the correctly rounded a/d (Markstein's theorem;
// see the chapter on division in the Handbook of Floating-Point Arithmetic), provided y is the
// correctly rounded reciprocal and nothing overflows or underflows: neither q0 nor the residual
// may leave the normal range. That holds when d lies in [2^-100, 2^100] (checked once per run:
// a dx that is zero, subnormal, not finite or extreme never takes this way) and a in
// [2^-900, 2^900], which keeps q0 within [2^-1001, 2^1001]. A zero a gives q0 = a*y, the zero
// of the right sign (-0/d is -0), which the result keeps. Every other a (subnormal, out of
// range, infinite, NaN) is unsafe; the caller divides instead.
//
// Dividing by d instead of dx keeps signed zeros right when dx is negative: the sign of dx moves
// into the factor 0.5 of the difference, (plus - minus)*(-0.5), which is exactly
// -((plus - minus)*0.5) since rounding is symmetric, and -x/|dx| is exactly x/dx.
struct exact_divisor {
    double magnitude;   // d = |dx|
    double reciprocal;  // y = 1/d, rounded to nearest
    double half;        // 0.5 with the sign of dx
};

// Whether dx is in the range where the exact division holds for every safe numerator.
inline bool exact_division_applies(double dx) {
    const double d = dx < 0 ? -dx : dx;
    return d >= 0x1p-100 && d <= 0x1p100;
}

inline exact_divisor make_exact_divisor(double dx) {
    const double d = dx < 0 ? -dx : dx;
    return {d, 1.0 / d, dx < 0 ? -0.5 : 0.5};
}

// fma(a, b, c) on every lane; compiled for a processor with FMA, the lanes become one vector
// instruction.
template <class T>
[[gnu::always_inline]] inline T fused_multiply_add(T a, T b, T c) {
    T r;
    for (unsigned lane = 0; lane < sizeof(T) / sizeof(double); ++lane) {
        r[lane] = __builtin_fma(a[lane], b[lane], c[lane]);
    }
    return r;
}

// The numerators seen by exact quotients, for the caller's check: the sign bit of each lane of
// `unsafe` is set once a numerator of that lane was neither zero nor within [2^-900, 2^900].
template <class T>
struct exact_division {
    using lane_bits = decltype(T{} < T{});
    const exact_divisor& divisor;
    lane_bits unsafe{};
};

// a/dx, exact for a safe numerator a (already carrying the sign of dx, see above).
template <class T>
[[gnu::always_inline]] inline T exact_quotient(T a, exact_division<T>& division) {
    using lane_bits = typename exact_division<T>::lane_bits;
    constexpr long long magnitude_bits = 0x7fffffffffffffffLL;
    constexpr long long low = 0x07b0000000000000LL;   // bits of 2^-900
    constexpr long long high = 0x7830000000000000LL;  // bits of 2^900
    // With u the bits of |a| (NaN and infinity above those of 2^900), u-low or high-u is
    // negative outside the range; -u clears that sign again for a zero, and for a zero only.
    const lane_bits u = reinterpret_cast<lane_bits>(a) & magnitude_bits;
    division.unsafe |= ((u - low) | (high - u)) & -u;
    const exact_divisor& d = division.divisor;
    const T y = T{} + d.reciprocal;
    const T q0 = a * y;
    const T t = fused_multiply_add(q0, T{} + d.magnitude, -a);
    const T q = fused_multiply_add(-t, y, q0);
    // q has the sign of q0 except where a is zero, and there the sign of a zero sum depends on
    // how the compiler arranges the negations; q0 is then the quotient itself. So q takes the
    // sign of q0.
    constexpr long long sign_bit = ~magnitude_bits;
    return reinterpret_cast<T>((reinterpret_cast<lane_bits>(q) & magnitude_bits) |
                               (reinterpret_cast<lane_bits>(q0) & sign_bit));
}

// The centred difference of point_formulas.hpp, (plus - minus)*0.5/dx, divided exactly: equal
// to it bit for bit for a safe numerator. The formulas of the rates find it by its argument.
template <class T>
[[gnu::always_inline]] inline T centred_difference(T plus, T minus, exact_division<T>& division) {
    return exact_quotient((plus - minus) * division.divisor.half, division);
}
