// Vector values are only ever passed to always-inlined helpers inside functions compiled for
// the matching instruction set, so the calling-convention difference that -Wpsabi warns about
// (a vector argument without that instruction set enabled) never reaches a real call.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "sweep/sweep.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "evolution/point_formulas.hpp"

namespace {

using grid_index = std::ptrdiff_t;

// How far a rate reaches, and so how far each iteration runs behind the one before.
constexpr grid_index reach = stencil_reach;

typedef double vec2 __attribute__((vector_size(16)));
typedef double vec4 __attribute__((vector_size(32)));
typedef double vec8 __attribute__((vector_size(64)));

// psi and pi of the given level at point x, with the end points taken from ends.
point_value level_value(const sweep_step& s, int level, const end_values& ends, grid_index x) {
    if (x == 0) return ends.first;
    if (x == s.nx) return ends.last;
    return {s.psi_level[level][x], s.pi_level[level][x]};
}

// psi and pi of level j at the interior points among first..last, from level j-1 as the
// differences of iteration j see it (the end points after the conditions of iteration j).
void evaluate_level(sweep_step& s, int j, grid_index first, grid_index last) {
    first = std::max<grid_index>(first, 1);
    last = std::min<grid_index>(last, grid_index{s.nx} - 1);
    const double* alpha = s.alpha;
    const double* beta = s.beta;
    for (grid_index x = first; x <= last; ++x) {
        const point_value m = level_value(s, j - 1, s.ends[j], x - reach);
        const point_value p = level_value(s, j - 1, s.ends[j], x + reach);
        s.psi_level[j][x] =
            advance(s.psi_level[0][x],
                    rhs_psi_at(alpha[x - reach], beta[x - reach], m.psi, m.pi, alpha[x + reach],
                               beta[x + reach], p.psi, p.pi, s.dx),
                    s.h[j]);
        s.pi_level[j][x] = advance(s.pi_level[0][x],
                                   rhs_pi_at(alpha[x - reach], beta[x - reach], m.psi, m.pi,
                                             alpha[x + reach], beta[x + reach], p.psi, p.pi, s.dx),
                                   s.h[j]);
    }
}

// phi of level 3 at the points among first..last: its rate comes from level 2 as iteration 3
// finds it, before its boundary conditions.
void evaluate_phi(sweep_step& s, grid_index first, grid_index last) {
    first = std::max<grid_index>(first, 0);
    last = std::min<grid_index>(last, s.nx);
    for (grid_index x = first; x <= last; ++x) {
        const point_value u = level_value(s, 2, s.ends[2], x);
        s.phi_new[x] = advance(s.phi[x], rhs_phi_at(s.alpha[x], s.beta[x], u.psi, u.pi), s.h[3]);
    }
}

// Level 3 of the points first..last, final, into phi, psi and pi.
void store_final(FieldSet& f, const sweep_step& s, grid_index first, grid_index last) {
    first = std::max<grid_index>(first, 0);
    last = std::min<grid_index>(last, s.nx);
    for (grid_index x = first; x <= last; ++x) {
        const point_value u = level_value(s, 3, s.ends[3], x);
        f.phi[x] = s.phi_new[x];
        f.psi[x] = u.psi;
        f.pi[x] = u.pi;
    }
}

// The stretches outside the ranges, in order along the grid: before the first range, between
// two, and after the last (the whole grid when there are none). Stretch i is points
// from[i]..to[i]-1; to[i] is where a range starts (nx+1 for the last).
template <class Each>
void for_each_outside(const sweep_step& s, const step_ranges& ranges, Each&& each) {
    grid_index from = 0;
    for (int i = 0; i < ranges.count; ++i) {
        each(from, grid_index{ranges.first[i]});
        from = ranges.first[i] + ranges.points[i];
    }
    each(from, grid_index{s.nx} + 1);
}

template <class V>
constexpr grid_index lanes = sizeof(V) / sizeof(double);

template <class V>
[[gnu::always_inline]] inline V load(const double* from) {
    V v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

template <class V>
[[gnu::always_inline]] inline void store(double* to, V v) {
    std::memcpy(to, &v, sizeof v);
}

template <std::size_t shift, class V, std::size_t... lane>
[[gnu::always_inline]] inline V shifted(V before, V now, std::index_sequence<lane...>) {
    return __builtin_shufflevector(before, now, (sizeof...(lane) - shift + lane)...);
}

// The values `shift` points to the left of the points of `now`: the last `shift` lanes of
// `before`, the block just before it, followed by the first lanes of `now`.
template <std::size_t shift, class V>
[[gnu::always_inline]] inline V from_left(V before, V now) {
    return shifted<shift>(before, now, std::make_index_sequence<lanes<V>>{});
}

template <std::size_t shift, class V>
[[gnu::always_inline]] inline point_fluxes<V> from_left(const point_fluxes<V>& before,
                                                        const point_fluxes<V>& now) {
    return {from_left<shift>(before.alpha_pi, now.alpha_pi),
            from_left<shift>(before.beta_psi, now.beta_psi),
            from_left<shift>(before.alpha_psi, now.alpha_psi),
            from_left<shift>(before.beta_pi, now.beta_pi)};
}

// The fluxes of the given level at points x..x+2*reach-1, in the last 2*reach lanes.
template <class V>
[[gnu::always_inline]] inline point_fluxes<V> fluxes_before(const sweep_step& s, int level,
                                                            grid_index x) {
    constexpr grid_index w = lanes<V>;
    V alpha{}, beta{}, psi{}, pi{};
    for (grid_index lane = w - 2 * reach; lane < w; ++lane) {
        const grid_index k = x + lane - (w - 2 * reach);
        alpha[lane] = s.alpha[k];
        beta[lane] = s.beta[k];
        psi[lane] = s.psi_level[level][k];
        pi[lane] = s.pi_level[level][k];
    }
    return fluxes_at(alpha, beta, psi, pi);
}

// The rates of psi and pi of one iteration from the fluxes at i-1 (m) and i+1 (p), divided by
// `dx`: the divider's division, or an exact_division.
template <class V, class Divisor>
[[gnu::always_inline]] inline void rates_of(const point_fluxes<V>& m, const point_fluxes<V>& p,
                                            Divisor&& dx, V& psi_rate, V& pi_rate) {
    psi_rate = rhs_psi_of(m, p, dx);
    pi_rate = rhs_pi_of(m, p, dx);
}

// A range: `vectors` vectors of lanes<V> points whose final values are written, from point
// `first` on. Turn b of the loop evaluates iteration 1 on vector b (points p.., with
// p = first+2*reach+b*w), iteration 2 on the w points `reach` before vector b-1 and iteration 3
// on the w points 2*reach before vector b-2, so that the three iterations of one turn depend on
// earlier turns only and run side by side. The fluxes of each level are formed once per point:
// an iteration's right neighbours are the fluxes of the vector the iteration before evaluated in
// the turn before, the left ones those of the two vectors before, shifted in by 2*reach points.
// Reads never reach the end points, and every read of psi and pi comes before the write of its
// point. Outside its own points a range reads levels 1 and 2 within 2*reach before it (from the
// scratch arrays) and the start-of-step state within 2*reach after it; it writes nothing
// outside its own points.
//
// Bit j-1 of `exact` makes iteration j divide without the divider. The rates of the three
// iterations of one turn depend on earlier turns only, so the numerators of all of them are
// checked together, once per turn: when one is outside the exact range, that turn's exact
// divisions are done again with the divider.
template <class V, unsigned exact>
[[gnu::always_inline]] inline void sweep_vectors(const sweep_step& s, double* phi, double* psi,
                                                 double* pi, grid_index first, grid_index vectors) {
    constexpr grid_index w = lanes<V>;
    const double* alpha = s.alpha;
    const double* beta = s.beta;
    // Fluxes of the points just before the first vector of each level, in the last 2*reach
    // lanes: level 0 from first+reach, level 1 from first, level 2 from first-reach.
    point_fluxes<V> f0_before = fluxes_before<V>(s, 0, first + reach);
    point_fluxes<V> f1_before2 = fluxes_before<V>(s, 1, first);
    point_fluxes<V> f2_before2 = fluxes_before<V>(s, 2, first - reach);
    point_fluxes<V> f1_before = f1_before2;
    point_fluxes<V> f2_before = f2_before2;

    for (grid_index b = 0; b < vectors + 2; ++b) {
        const grid_index p = first + 2 * reach + b * w;
        const grid_index q = p - w - reach;          // iteration 2, from iteration 1 around it
        const grid_index r = p - 2 * w - 2 * reach;  // iteration 3, from iteration 2; final
        const bool active[3] = {b < vectors, b >= 1 && b <= vectors, b >= 2};
        point_fluxes<V> f0 = f0_before;
        // Iteration 1 at p.., from the state at the start of the step: fluxes from p+reach.
        if (active[0]) {
            f0 = fluxes_at(load<V>(alpha + p + reach), load<V>(beta + p + reach),
                           load<V>(psi + p + reach), load<V>(pi + p + reach));
        }
        const point_fluxes<V> minus[3] = {from_left<2 * reach>(f0_before, f0),
                                          from_left<2 * reach>(f1_before2, f1_before),
                                          from_left<2 * reach>(f2_before2, f2_before)};
        const point_fluxes<V>* plus[3] = {&f0, &f1_before, &f2_before};
        V psi_rate[3] = {}, pi_rate[3] = {};
        bool divide = true;
        if constexpr (exact != 0) {
            exact_division<V> division{s.divisor};
            for (int j = 0; j < 3; ++j) {
                if ((exact >> j & 1u) != 0 && active[j]) {
                    rates_of(minus[j], *plus[j], division, psi_rate[j], pi_rate[j]);
                }
            }
            long long unsafe = 0;
            for (grid_index lane = 0; lane < w; ++lane) {
                unsafe |= division.unsafe[lane];
            }
            divide = unsafe < 0;
        }
        for (int j = 0; j < 3; ++j) {
            if (active[j] && ((exact >> j & 1u) == 0 || divide)) {
                rates_of(minus[j], *plus[j], s.dx, psi_rate[j], pi_rate[j]);
            }
        }
        point_fluxes<V> f1 = f1_before;
        point_fluxes<V> f2 = f2_before;
        if (active[0]) {
            const V psi1 = advance(load<V>(psi + p), psi_rate[0], s.h[1]);
            const V pi1 = advance(load<V>(pi + p), pi_rate[0], s.h[1]);
            f1 = fluxes_at(load<V>(alpha + p), load<V>(beta + p), psi1, pi1);
            f0_before = f0;
        }
        if (active[1]) {
            const V psi2 = advance(load<V>(psi + q), psi_rate[1], s.h[2]);
            const V pi2 = advance(load<V>(pi + q), pi_rate[1], s.h[2]);
            f2 = fluxes_at(load<V>(alpha + q), load<V>(beta + q), psi2, pi2);
        }
        if (active[2]) {
            const V psi3 = advance(load<V>(psi + r), psi_rate[2], s.h[3]);
            const V pi3 = advance(load<V>(pi + r), pi_rate[2], s.h[3]);
            const V phi3 = advance(load<V>(phi + r),
                                   rhs_phi_of(from_left<reach>(f2_before2, f2_before)), s.h[3]);
            store(psi + r, psi3);
            store(pi + r, pi3);
            store(phi + r, phi3);
        }
        f1_before2 = f1_before;
        f1_before = f1;
        f2_before2 = f2_before;
        f2_before = f2;
    }
}

// The bit of each iteration that divides exactly, for each way of dividing.
constexpr unsigned exact_bits(sweep_division division) {
    return division == sweep_division::all ? 7u : division == sweep_division::first ? 1u : 0u;
}

using range_kernel = void (*)(const sweep_step&, FieldSet&, grid_index, grid_index);

template <class V, unsigned exact>
[[gnu::always_inline]] inline void sweep_fields(const sweep_step& s, FieldSet& f, grid_index first,
                                                grid_index vectors) {
    sweep_vectors<V, exact>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, vectors);
}

template <unsigned exact>
void sweep_sse2(const sweep_step& s, FieldSet& f, grid_index first, grid_index vectors) {
    sweep_fields<vec2, exact>(s, f, first, vectors);
}

#if defined(__x86_64__) || defined(__i386__)
template <unsigned exact>
[[gnu::target("avx2,fma")]] void sweep_avx2(const sweep_step& s, FieldSet& f, grid_index first,
                                            grid_index vectors) {
    sweep_fields<vec4, exact>(s, f, first, vectors);
}

// Without the exact division AVX2 needs no FMA, which some processors with AVX2 lack.
[[gnu::target("avx2")]] void sweep_avx2_divider(const sweep_step& s, FieldSet& f, grid_index first,
                                                grid_index vectors) {
    sweep_fields<vec4, 0>(s, f, first, vectors);
}

template <unsigned exact>
[[gnu::target("avx512f")]] void sweep_avx512(const sweep_step& s, FieldSet& f, grid_index first,
                                             grid_index vectors) {
    sweep_fields<vec8, exact>(s, f, first, vectors);
}
#endif

// The kernel of a supported method, dividing as it says.
range_kernel kernel_of(sweep_isa isa, sweep_division division) {
#if defined(__x86_64__) || defined(__i386__)
    constexpr unsigned first = exact_bits(sweep_division::first);
    constexpr unsigned all = exact_bits(sweep_division::all);
    if (isa == sweep_isa::avx512) {
        return division == sweep_division::divider ? sweep_avx512<0>
               : division == sweep_division::first ? sweep_avx512<first>
                                                   : sweep_avx512<all>;
    }
    if (isa == sweep_isa::avx2) {
        return division == sweep_division::divider ? sweep_avx2_divider
               : division == sweep_division::first ? sweep_avx2<first>
                                                   : sweep_avx2<all>;
    }
#endif
    (void)isa;
    (void)division;
    return sweep_sse2<0>;
}

bool isa_supported(sweep_isa isa) {
#if defined(__x86_64__) || defined(__i386__)
    // The processor is examined once, also when this runs before the program's constructors.
    __builtin_cpu_init();
    switch (isa) {
        case sweep_isa::avx512:
            return __builtin_cpu_supports("avx512f");
        case sweep_isa::avx2:
            return __builtin_cpu_supports("avx2");
        default:
            return true;
    }
#else
    return isa == sweep_isa::sse2;
#endif
}

}  // namespace

std::string sweep_method_name(const sweep_method& method) {
    const char* isa = method.isa == sweep_isa::avx512 ? "avx512"
                      : method.isa == sweep_isa::avx2 ? "avx2"
                                                      : "sse2";
    const char* division = method.division == sweep_division::divider ? ":divider"
                           : method.division == sweep_division::first ? ":first"
                                                                      : ":all";
    return std::string(isa) + division;
}

bool sweep_method_supported(const sweep_method& method) {
    if (!isa_supported(method.isa)) return false;
    if (method.division == sweep_division::divider) return true;
#if defined(__x86_64__) || defined(__i386__)
    // AVX-512F has its own fused multiply-add; the 256-bit one is the separate FMA extension.
    if (method.isa == sweep_isa::avx512) return true;
    if (method.isa == sweep_isa::avx2) return __builtin_cpu_supports("fma");
#endif
    return false;
}

int supported_sweep_methods(sweep_method (&methods)[max_sweep_methods]) {
    int count = 0;
    for (sweep_isa isa : {sweep_isa::avx512, sweep_isa::avx2, sweep_isa::sse2}) {
        for (sweep_division division :
             {sweep_division::divider, sweep_division::first, sweep_division::all}) {
            if (sweep_method_supported({isa, division})) methods[count++] = {isa, division};
        }
    }
    return count;
}

std::int64_t vector_points(sweep_isa isa) {
    return isa == sweep_isa::avx512 ? lanes<vec8>
           : isa == sweep_isa::avx2 ? lanes<vec4>
                                    : lanes<vec2>;
}

step_middle middle_of(const FieldSet& fields, std::int32_t nx, std::int64_t block) {
    // The first block starts past the points that the end region's levels need, where the
    // stores of phi fall on whole vectors.
    constexpr grid_index start = 2 * reach + 1;
    // In integers: an empty grid has no storage, and an offset from a null pointer is undefined.
    const auto address = reinterpret_cast<std::uintptr_t>(fields.phi.data()) +
                         static_cast<std::uintptr_t>(start) * sizeof(double);
    const grid_index bytes = block * static_cast<grid_index>(sizeof(double));
    step_middle middle;
    middle.block = block;
    middle.first = start + ((bytes - static_cast<grid_index>(address % bytes)) % bytes) /
                               static_cast<grid_index>(sizeof(double));
    const grid_index room = grid_index{nx} - start - middle.first;
    middle.blocks = room >= block ? room / block : 0;
    return middle;
}

sweep_step begin_step(FieldSet& f, const RunParameters& params, const step_ranges& ranges) {
    sweep_step s{};
    s.nx = params.nx;
    s.boundtype = params.boundtype;
    s.dx = params.dx;
    s.divisor = make_exact_divisor(params.dx);
    s.exact = exact_division_applies(params.dx);
    s.h[1] = params.dt * 0.5;
    s.h[2] = params.dt * 0.5;
    s.h[3] = params.dt;
    s.alpha = f.alpha.data();
    s.beta = f.beta.data();
    s.phi = f.phi.data();
    s.psi_level[0] = f.psi.data();
    s.pi_level[0] = f.pi.data();
    // The levels outside the ranges are kept in scratch arrays of the FieldSet that hold other
    // values in the passes: each array is named here by what it holds in the sweep.
    double* const psi_after_iteration_1 = f.psi_p.data();
    double* const pi_after_iteration_1 = f.pi_p.data();
    double* const psi_after_iteration_2 = f.rhs_psi.data();
    double* const pi_after_iteration_2 = f.rhs_pi.data();
    double* const psi_after_iteration_3 = f.left.data();
    double* const pi_after_iteration_3 = f.right.data();
    double* const phi_after_iteration_3 = f.rhs_phi.data();
    s.psi_level[1] = psi_after_iteration_1;
    s.pi_level[1] = pi_after_iteration_1;
    s.psi_level[2] = psi_after_iteration_2;
    s.pi_level[2] = pi_after_iteration_2;
    s.psi_level[3] = psi_after_iteration_3;
    s.pi_level[3] = pi_after_iteration_3;
    s.phi_new = phi_after_iteration_3;
    if (s.nx < 0) return s;
    s.ends[0] = {{f.psi[0], f.pi[0]}, {f.psi[params.nx], f.pi[params.nx]}};

    // Level j is worked out from (3-j)*reach points before a range starts to (3-j)*reach points
    // after the one before it ends: level 3 and phi cover the stretches outside the ranges
    // themselves, and levels 1 and 2 also the points a range starts from and the points the
    // outgoing condition reads.
    for (int j = 1; j <= 3; ++j) {
        s.ends[j] = boundary_ends(s.boundtype, s.nx, s.ends[j - 1], [&](grid_index x) {
            return level_value(s, j - 1, s.ends[j - 1], x);
        });
        const grid_index lag = (3 - j) * reach;
        for_each_outside(s, ranges, [&](grid_index from, grid_index to) {
            evaluate_level(s, j, from - lag, to - 1 + lag);
        });
    }
    for_each_outside(s, ranges,
                     [&](grid_index from, grid_index to) { evaluate_phi(s, from, to - 1); });
    return s;
}

void sweep_range(const sweep_step& step, FieldSet& fields, std::int64_t first, std::int64_t points,
                 const sweep_method& method) {
    const sweep_division division = step.exact ? method.division : sweep_division::divider;
    kernel_of(method.isa, division)(step, fields, first, points / vector_points(method.isa));
}

void end_step(FieldSet& fields, const sweep_step& step, const step_ranges& ranges) {
    if (step.nx < 0) return;
    for_each_outside(step, ranges, [&](grid_index from, grid_index to) {
        store_final(fields, step, from, to - 1);
    });
}
