// The exact division of the vector sweep against the division it replaces, on quotients of every
// class of value: it must give the same bits wherever it reports its lane safe, and report a lane
// unsafe exactly where the numerator is neither zero nor within [2^-900, 2^900].
// Vector values only pass between always-inlined helpers inside functions compiled for their
// instruction set.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "sweep/exact_division.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "sweep/sweep.hpp"

namespace {

typedef double vec4 __attribute__((vector_size(32)));
typedef double vec8 __attribute__((vector_size(64)));

// splitmix64: fast, and good enough to spread the operands over their classes.
struct random_bits {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
};

constexpr std::uint64_t fraction_bits = (std::uint64_t{1} << 52) - 1;

// A value of a class chosen at random: normal over the whole exponent range, near the limits of
// the safe range, near overflow and underflow, subnormal, zero, infinite or NaN, either sign.
double any_value(random_bits& random) {
    const std::uint64_t r = random.next();
    const std::uint64_t sign = (r & 1) << 63;
    const std::uint64_t fraction = random.next() & fraction_bits;
    std::uint64_t exponent;
    switch ((r >> 1) % 16) {
        case 0:
            return std::bit_cast<double>(sign);  // zero
        case 1:
            return std::bit_cast<double>(sign | fraction);  // subnormal (or zero)
        case 2:
            return std::bit_cast<double>(sign | 0x7ff0000000000000ULL);  // infinity
        case 3:
            return std::bit_cast<double>(sign | 0x7ff8000000000000ULL | (fraction >> 1));  // NaN
        case 4:  // next to the safe range's ends, numerators being half the difference
            exponent = ((r >> 8) & 1 ? 1023 - 900 : 1023 + 900) + ((r >> 9) % 5) - 1;
            break;
        case 5:  // next to overflow and underflow
            exponent = (r >> 8) & 1 ? 2046 - ((r >> 9) % 4) : 1 + ((r >> 9) % 4);
            break;
        case 6:  // around one, where most values of a run lie
            exponent = 1023 - 40 + ((r >> 8) % 60);
            break;
        default:
            exponent = 1 + ((r >> 8) % 2046);
            break;
    }
    return std::bit_cast<double>(sign | (exponent << 52) | fraction);
}

// For a divisor with an odd 53-bit significand B, a numerator whose quotient lies within
// |r| * 2^-106 (relative) of a midpoint between two doubles: the hardest case to round.
// A*2^54 = B*M + r with M odd and 54 bits, so A/B = (M + r/B)/2^54. Returns 0 when this r gives
// no numerator of 53 bits.
double near_midpoint(std::uint64_t divisor_significand, std::int64_t r, int exponent) {
    const std::uint64_t mask54 = (std::uint64_t{1} << 54) - 1;
    std::uint64_t inverse = divisor_significand;  // inverse mod 2^64 by Newton's iteration
    for (int k = 0; k < 6; ++k) {
        inverse *= 2 - divisor_significand * inverse;
    }
    const std::uint64_t m = (static_cast<std::uint64_t>(-r) * inverse) & mask54;
    if (m < (std::uint64_t{1} << 53)) return 0;
    __extension__ typedef unsigned __int128 wide;
    const wide product = static_cast<wide>(divisor_significand) * m + static_cast<wide>(r);
    const auto a = static_cast<std::uint64_t>(product >> 54);
    if (a < (std::uint64_t{1} << 52) || a >= (std::uint64_t{1} << 53)) return 0;
    return std::ldexp(static_cast<double>(a), exponent);
}

struct quotient_tally {
    std::uint64_t checked = 0;
    std::uint64_t safe = 0;
    std::uint64_t wrong = 0;      // safe lanes whose quotient differs from the division
    std::uint64_t misjudged = 0;  // lanes reported safe or unsafe against the rule
    double first_plus = 0, first_minus = 0;
};

template <class V>
[[gnu::always_inline]] inline void check_lanes(const std::vector<double>& plus,
                                               const std::vector<double>& minus, double dx,
                                               quotient_tally& tally) {
    constexpr std::size_t w = sizeof(V) / sizeof(double);
    const exact_divisor divisor = make_exact_divisor(dx);
    for (std::size_t k = 0; k + w <= plus.size(); k += w) {
        V p, m;
        std::memcpy(&p, &plus[k], sizeof p);
        std::memcpy(&m, &minus[k], sizeof m);
        exact_division<V> division{divisor};
        const V q = centred_difference(p, m, division);
        for (std::size_t lane = 0; lane < w; ++lane) {
            const double expected = (plus[k + lane] - minus[k + lane]) * 0.5 / dx;
            const double a = std::fabs((plus[k + lane] - minus[k + lane]) * 0.5);
            const bool should_be_safe = a == 0 || (a >= 0x1p-900 && a <= 0x1p900);
            const bool safe = division.unsafe[lane] >= 0;
            ++tally.checked;
            tally.safe += safe;
            const bool misjudged = safe != should_be_safe;
            const bool wrong = safe && std::bit_cast<std::uint64_t>(q[lane]) !=
                                           std::bit_cast<std::uint64_t>(expected);
            if ((misjudged || wrong) && tally.wrong + tally.misjudged == 0) {
                tally.first_plus = plus[k + lane];
                tally.first_minus = minus[k + lane];
            }
            tally.misjudged += misjudged;
            tally.wrong += wrong;
        }
    }
}

[[gnu::target("avx512f")]] void check_avx512(const std::vector<double>& plus,
                                             const std::vector<double>& minus, double dx,
                                             quotient_tally& tally) {
    check_lanes<vec8>(plus, minus, dx, tally);
}

[[gnu::target("avx2,fma")]] void check_avx2(const std::vector<double>& plus,
                                            const std::vector<double>& minus, double dx,
                                            quotient_tally& tally) {
    check_lanes<vec4>(plus, minus, dx, tally);
}

// Divisors the exact division takes: the limits of its range, both signs, plain and odd
// significands (the latter with numerators next to midpoints).
std::vector<double> usable_divisors(random_bits& random) {
    std::vector<double> divisors = {1.0,      -1.0,    0.1,      -0.02,     3e-7,
                                    0x1p-100, 0x1p100, -0x1p100, -0x1p-100, 20.0 / 2000000};
    for (int k = 0; k < 14; ++k) {
        const std::uint64_t significand = (random.next() & fraction_bits) | 1;
        const double magnitude =
            std::ldexp(static_cast<double>(significand | (std::uint64_t{1} << 52)),
                       static_cast<int>(random.next() % 201) - 100 - 52);
        divisors.push_back(k % 2 == 0 ? magnitude : -magnitude);
    }
    return divisors;
}

void check_quotients(void (*check)(const std::vector<double>&, const std::vector<double>&, double,
                                   quotient_tally&),
                     std::uint64_t wanted) {
    random_bits random{12345};
    const std::vector<double> divisors = usable_divisors(random);
    const std::size_t batch = 1 << 14;
    std::vector<double> plus(batch), minus(batch);
    quotient_tally tally;
    const std::uint64_t per_divisor = wanted / divisors.size() + batch;
    for (const double dx : divisors) {
        ASSERT_TRUE(exact_division_applies(dx)) << dx;
        int dx_exponent;
        const double dx_fraction = std::frexp(std::fabs(dx), &dx_exponent);
        const auto significand = static_cast<std::uint64_t>(std::ldexp(dx_fraction, 53));
        const bool odd = significand % 2 == 1;
        const std::uint64_t before = tally.checked;
        while (tally.checked - before < per_divisor) {
            for (std::size_t k = 0; k < batch; ++k) {
                const std::uint64_t r = random.next();
                double hard = 0;
                if (odd && r % 4 == 0) {
                    // a in [2^e, 2^(e+2)) next to a midpoint of a/dx; plus = 2a, minus = 0.
                    const auto offset = static_cast<std::int64_t>((r >> 8) % 2001) - 1000;
                    hard = near_midpoint(significand, offset | 1,
                                         dx_exponent - 52 + static_cast<int>((r >> 20) % 41) - 20);
                }
                if (hard != 0) {
                    plus[k] = (r >> 40) & 1 ? 2 * hard : -2 * hard;
                    minus[k] = 0.0;
                } else {
                    plus[k] = any_value(random);
                    minus[k] = (r >> 2) & 1 ? any_value(random) : ((r >> 3) & 1 ? 0.0 : -0.0);
                }
            }
            check(plus, minus, dx, tally);
        }
    }
    EXPECT_GE(tally.checked, wanted);
    EXPECT_GT(tally.safe, tally.checked / 2);
    EXPECT_EQ(tally.wrong + tally.misjudged, 0u)
        << tally.wrong << " wrong, " << tally.misjudged << " misjudged; first: ("
        << tally.first_plus << " - " << tally.first_minus << ") * 0.5 / dx";
}

TEST(ExactDivision, MatchesTheDivisionOnAHundredMillionQuotientsOfEveryClass) {
    if (sweep_method_supported({sweep_isa::avx512, sweep_division::first})) {
        check_quotients(check_avx512, 100'000'000);
    }
    if (sweep_method_supported({sweep_isa::avx2, sweep_division::first})) {
        check_quotients(check_avx2, 10'000'000);
    }
}

TEST(ExactDivision, LeavesDivisorsOutsideItsRangeToTheDivider) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double dx :
         {0.0, -0.0, 0x1p-1070, -0x1p-1030, inf, -inf, std::numeric_limits<double>::quiet_NaN(),
          0x1p-101, 0x1p101, -1e300, std::numeric_limits<double>::max()}) {
        EXPECT_FALSE(exact_division_applies(dx)) << dx;
    }
}

}  // namespace
