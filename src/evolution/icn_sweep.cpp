#include "evolution/icn_sweep.hpp"

// Vector values are only ever passed to always-inlined helpers inside functions compiled for
// the matching instruction set, so the calling-convention difference that -Wpsabi warns about
// (a vector argument without that instruction set enabled) never reaches a real call.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "evolution/boundary_conditions.hpp"
#include "evolution/point_formulas.hpp"

namespace {

using grid_index = std::ptrdiff_t;

typedef double vec2 __attribute__((vector_size(16)));
typedef double vec4 __attribute__((vector_size(32)));
typedef double vec8 __attribute__((vector_size(64)));

// psi and pi at one point.
struct point_value {
    double psi;
    double pi;
};

// psi and pi at the end points 0 and nx.
struct end_values {
    point_value first;
    point_value last;
};

// The fields of one step, level by level: level 0 is the state at the start of the step and
// level j (1..3) the result of iteration j. psi_level[j] and pi_level[j] hold the interior
// values of level j at the points where it has been evaluated: level 0 in psi and pi
// themselves, levels 1 to 3 in scratch arrays. ends[j] holds psi and pi at the end points as
// the boundary conditions of iteration j leave them (ends[0]: as the step found them). phi of
// level 3 goes to phi_new. Only phi of level 3 is ever needed: phi enters no right-hand side.
struct step_levels {
    std::int32_t nx;
    std::int32_t boundtype;
    double dx;
    exact_divisor divisor;  // dx prepared for the exact division
    double h[4];            // h[j]: step length of iteration j; h[0] is unused
    const double* alpha;
    const double* beta;
    const double* phi;
    double* psi_level[4];
    double* pi_level[4];
    double* phi_new;
    end_values ends[4];
};

step_levels start_levels(FieldSet& f, const RunParameters& params) {
    step_levels s{};
    s.nx = params.nx;
    s.boundtype = params.boundtype;
    s.dx = params.dx;
    s.divisor = make_exact_divisor(params.dx);
    s.h[1] = params.dt * 0.5;
    s.h[2] = params.dt * 0.5;
    s.h[3] = params.dt;
    s.alpha = f.alpha.data();
    s.beta = f.beta.data();
    s.phi = f.phi.data();
    s.psi_level[0] = f.psi.data();
    s.pi_level[0] = f.pi.data();
    // The levels of the end regions and the gaps are kept in scratch arrays of the FieldSet that
    // hold other values in the passes: each array is named here by what it holds in the sweep.
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
    s.ends[0] = {{f.psi[0], f.pi[0]}, {f.psi[params.nx], f.pi[params.nx]}};
    return s;
}

// psi and pi of the given level at point x, with the end points taken from ends.
point_value level_value(const step_levels& s, int level, const end_values& ends, grid_index x) {
    if (x == 0) return ends.first;
    if (x == s.nx) return ends.last;
    return {s.psi_level[level][x], s.pi_level[level][x]};
}

// The end values that the boundary conditions of iteration j set, from level j-1 as they find
// it: the interior from the update of iteration j-1, the end points from its conditions.
end_values boundary_ends(const step_levels& s, int j) {
    const end_values& before = s.ends[j - 1];
    if (!boundary_applies(s.boundtype, s.nx)) return before;
    const grid_index nx = s.nx;
    auto at = [&](grid_index x) { return level_value(s, j - 1, before, x); };
    if (s.boundtype == boundary_periodic) return {at(nx - 2), at(2)};
    const point_value l1 = at(1), l2 = at(2), l3 = at(3);
    const point_value r1 = at(nx - 1), r2 = at(nx - 2), r3 = at(nx - 3);
    const double left = parabola_end(left_going(l1.pi, l1.psi), left_going(l2.pi, l2.psi),
                                     left_going(l3.pi, l3.psi));
    const double right = parabola_end(right_going(r1.pi, r1.psi), right_going(r2.pi, r2.psi),
                                      right_going(r3.pi, r3.psi));
    return {{left, left}, {-right, right}};
}

// psi and pi of level j at the interior points among first..last, from level j-1 as the
// differences of iteration j see it (the end points after the conditions of iteration j).
void evaluate_level(step_levels& s, int j, grid_index first, grid_index last) {
    first = std::max<grid_index>(first, 1);
    last = std::min<grid_index>(last, grid_index{s.nx} - 1);
    const double* alpha = s.alpha;
    const double* beta = s.beta;
    for (grid_index x = first; x <= last; ++x) {
        const point_value m = level_value(s, j - 1, s.ends[j], x - 1);
        const point_value p = level_value(s, j - 1, s.ends[j], x + 1);
        s.psi_level[j][x] = advance(s.psi_level[0][x],
                                    rhs_psi_at(alpha[x - 1], beta[x - 1], m.psi, m.pi, alpha[x + 1],
                                               beta[x + 1], p.psi, p.pi, s.dx),
                                    s.h[j]);
        s.pi_level[j][x] = advance(s.pi_level[0][x],
                                   rhs_pi_at(alpha[x - 1], beta[x - 1], m.psi, m.pi, alpha[x + 1],
                                             beta[x + 1], p.psi, p.pi, s.dx),
                                   s.h[j]);
    }
}

// phi of level 3 at the points among first..last: its rate comes from level 2 as iteration 3
// finds it, before its boundary conditions.
void evaluate_phi(step_levels& s, grid_index first, grid_index last) {
    first = std::max<grid_index>(first, 0);
    last = std::min<grid_index>(last, s.nx);
    for (grid_index x = first; x <= last; ++x) {
        const point_value u = level_value(s, 2, s.ends[2], x);
        s.phi_new[x] = advance(s.phi[x], rhs_phi_at(s.alpha[x], u.pi, s.beta[x], u.psi), s.h[3]);
    }
}

// Level 3 of the points first..last, final, into phi, psi and pi.
void store_final(FieldSet& f, const step_levels& s, grid_index first, grid_index last) {
    first = std::max<grid_index>(first, 0);
    last = std::min<grid_index>(last, s.nx);
    for (grid_index x = first; x <= last; ++x) {
        const point_value u = level_value(s, 3, s.ends[3], x);
        f.phi[x] = s.phi_new[x];
        f.psi[x] = u.psi;
        f.pi[x] = u.pi;
    }
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

// The fluxes of the given level at points x and x+1, in the last two lanes.
template <class V>
[[gnu::always_inline]] inline point_fluxes<V> fluxes_before(const step_levels& s, int level,
                                                            grid_index x) {
    constexpr grid_index w = lanes<V>;
    V alpha{}, beta{}, psi{}, pi{};
    for (grid_index lane = w - 2; lane < w; ++lane) {
        const grid_index k = x + lane - (w - 2);
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

// The middle of the sweep: `blocks` blocks of lanes<V> points whose final values are written,
// from point `first` on. Sweep step b evaluates iteration 1 on block b (points p.., with
// p = first+2+b*w), iteration 2 on the w points one point before block b-1 and iteration 3 on
// the w points two points before block b-2, so that the three iterations of one step depend on
// earlier steps only and run side by side. The fluxes of each level are formed once per point:
// an iteration's right neighbours are the fluxes of the block the iteration before evaluated in
// the previous step, the left ones those of the two blocks before, shifted in by two points.
// Reads never reach the end points, and every read of psi and pi comes before the write of its
// point. Outside its own points the middle reads levels 1 and 2 at first-1..first+1 (from the
// scratch arrays) and the start-of-step state at end..end+2, end = first + blocks*w; it writes
// nothing outside its own points.
//
// Bit j-1 of `exact` makes iteration j divide without the divider. The rates of the three
// iterations of one sweep step depend on earlier steps only, so the numerators of all of them
// are checked together, once per sweep step: when one is outside the exact range, that step's
// exact divisions are done again with the divider.
template <class V, unsigned exact>
[[gnu::always_inline]] inline void sweep_middle(const step_levels& s, double* phi, double* psi,
                                                double* pi, grid_index first, grid_index blocks) {
    constexpr grid_index w = lanes<V>;
    const double* alpha = s.alpha;
    const double* beta = s.beta;
    // Fluxes of the points just before the first block of each level, in the last two lanes:
    // level 0 at first+1.., level 1 at first.., level 2 at first-1..
    point_fluxes<V> f0_before = fluxes_before<V>(s, 0, first + 1);
    point_fluxes<V> f1_before2 = fluxes_before<V>(s, 1, first);
    point_fluxes<V> f2_before2 = fluxes_before<V>(s, 2, first - 1);
    point_fluxes<V> f1_before = f1_before2;
    point_fluxes<V> f2_before = f2_before2;

    for (grid_index b = 0; b < blocks + 2; ++b) {
        const grid_index p = first + 2 + b * w;
        const grid_index q = p - w - 1;      // iteration 2, from iteration 1 at q-1.. and q+1..
        const grid_index r = p - 2 * w - 2;  // iteration 3, from iteration 2; final
        const bool active[3] = {b < blocks, b >= 1 && b <= blocks, b >= 2};
        point_fluxes<V> f0 = f0_before;
        // Iteration 1 at p.., from the state at the start of the step: fluxes at p+1..
        if (active[0]) {
            f0 = fluxes_at(load<V>(alpha + p + 1), load<V>(beta + p + 1), load<V>(psi + p + 1),
                           load<V>(pi + p + 1));
        }
        const point_fluxes<V> minus[3] = {from_left<2>(f0_before, f0),
                                          from_left<2>(f1_before2, f1_before),
                                          from_left<2>(f2_before2, f2_before)};
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
            const V phi3 =
                advance(load<V>(phi + r), rhs_phi_of(from_left<1>(f2_before2, f2_before)), s.h[3]);
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

// Bits of the iterations that divide exactly, for each way of dividing.
constexpr unsigned exact_bits(sweep_division division) {
    switch (division) {
        case sweep_division::first:
            return 1u;
        case sweep_division::all:
            return 7u;
        default:
            return 0u;
    }
}

using middle_kernel = void (*)(const step_levels&, FieldSet&, grid_index, grid_index);

template <unsigned exact>
void sweep_middle_sse2(const step_levels& s, FieldSet& f, grid_index first, grid_index blocks) {
    sweep_middle<vec2, exact>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
}

#if defined(__x86_64__) || defined(__i386__)
template <unsigned exact>
[[gnu::target("avx2,fma")]] void sweep_middle_avx2(const step_levels& s, FieldSet& f,
                                                   grid_index first, grid_index blocks) {
    sweep_middle<vec4, exact>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
}

// Without the exact division AVX2 needs no FMA, which some processors with AVX2 lack.
[[gnu::target("avx2")]] void sweep_middle_avx2_divider(const step_levels& s, FieldSet& f,
                                                       grid_index first, grid_index blocks) {
    sweep_middle<vec4, 0>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
}

template <unsigned exact>
[[gnu::target("avx512f")]] void sweep_middle_avx512(const step_levels& s, FieldSet& f,
                                                    grid_index first, grid_index blocks) {
    sweep_middle<vec8, exact>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
}
#endif

// The kernel of a supported method.
middle_kernel kernel_of(const sweep_method& method) {
#if defined(__x86_64__) || defined(__i386__)
    const unsigned exact = exact_bits(method.division);
    if (method.isa == sweep_isa::avx512) {
        return exact == 0   ? sweep_middle_avx512<0>
               : exact == 1 ? sweep_middle_avx512<exact_bits(sweep_division::first)>
                            : sweep_middle_avx512<exact_bits(sweep_division::all)>;
    }
    if (method.isa == sweep_isa::avx2) {
        return exact == 0   ? sweep_middle_avx2_divider
               : exact == 1 ? sweep_middle_avx2<exact_bits(sweep_division::first)>
                            : sweep_middle_avx2<exact_bits(sweep_division::all)>;
    }
#endif
    (void)method;
    return sweep_middle_sse2<0>;
}

grid_index lanes_of(sweep_isa isa) {
    switch (isa) {
        case sweep_isa::avx512:
            return lanes<vec8>;
        case sweep_isa::avx2:
            return lanes<vec4>;
        default:
            return lanes<vec2>;
    }
}

// The method as the processor and dx allow it: the widest instruction set it has in place of
// one it lacks, and the divider where the exact division does not hold.
sweep_method usable_method(sweep_method method, double dx) {
    if (!sweep_isa_supported(method.isa)) method = widest_sweep_method();
    if (!sweep_method_supported(method) || !exact_division_applies(dx)) {
        method.division = sweep_division::divider;
    }
    return method;
}

// The most thread parts a middle is split into; more threads than this share them.
constexpr int max_parts = 256;
constexpr int max_pieces = max_parts + 1 + max_samples;

// The middle's pieces, in order along the grid: piece i writes the final values of points
// first[i]..first[i]+units[i]*unit-1 with the method of slot[i] (0: the layout's method,
// 1 + k: sample k), and belongs to thread part part_of[i]. Between two pieces lies a gap of
// whole units, at least three points: a piece reads the start-of-step state up to two points
// past its end, and the next piece overwrites it in place.
struct middle_pieces {
    int count = 0;
    int parts = 0;
    grid_index first[max_pieces];
    grid_index units[max_pieces];
    int slot[max_pieces];
    int part_of[max_pieces];
    int samples = 0;  // samples that fit into the first part
};

void add_piece(middle_pieces& pieces, grid_index first, grid_index units, int slot, int part) {
    const int i = pieces.count++;
    pieces.first[i] = first;
    pieces.units[i] = units;
    pieces.slot[i] = slot;
    pieces.part_of[i] = part;
}

middle_pieces lay_out_middle(grid_index first, grid_index blocks, grid_index unit,
                             const sweep_layout& layout) {
    const grid_index gap = (3 + unit - 1) / unit;
    grid_index count = std::clamp(blocks > 0 ? layout.parts : 1, 1, max_parts);
    while (count > 1 && blocks < count + (count - 1) * gap) {
        --count;
    }
    middle_pieces pieces;
    pieces.parts = static_cast<int>(count);
    const grid_index usable = blocks - (count - 1) * gap;
    grid_index at = first;
    for (grid_index k = 0; k < count; ++k) {
        const grid_index units = usable / count + (k < usable % count ? 1 : 0);
        const int part = static_cast<int>(k);
        // The first part: main method, samples, main method again, with gaps between; the
        // samples take at most half of it and begin sample_offset points in.
        const grid_index sample_units =
            std::max<grid_index>((layout.sample_points + unit - 1) / unit, 1);
        grid_index samples = k == 0 ? std::clamp(layout.samples, 0, max_samples) : 0;
        while (samples > 0 && (samples * sample_units > units / 2 ||
                               units - samples * sample_units - (samples + 1) * gap < 2)) {
            --samples;
        }
        if (samples == 0) {
            add_piece(pieces, at, units, 0, part);
        } else {
            const grid_index free_units = units - samples * sample_units - (samples + 1) * gap;
            const grid_index before =
                1 + (std::max<grid_index>(layout.sample_offset, 0) / unit) % (free_units - 1);
            grid_index piece_at = at;
            add_piece(pieces, piece_at, before, 0, part);
            piece_at += (before + gap) * unit;
            for (grid_index n = 0; n < samples; ++n) {
                add_piece(pieces, piece_at, sample_units, static_cast<int>(1 + n), part);
                piece_at += (sample_units + gap) * unit;
            }
            add_piece(pieces, piece_at, free_units - before, 0, part);
            pieces.samples = static_cast<int>(samples);
        }
        at += (units + gap) * unit;
    }
    return pieces;
}

std::int64_t clock_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The pieces of thread part `part`, one after another; timed into `timing` when it is given.
void run_part(const middle_pieces& pieces, int part, const sweep_method (&methods)[1 + max_samples],
              grid_index unit, const step_levels& s, FieldSet& f, sweep_timing* timing) {
    for (int i = 0; i < pieces.count; ++i) {
        if (pieces.part_of[i] != part) continue;
        const sweep_method& method = methods[pieces.slot[i]];
        const grid_index blocks = pieces.units[i] * (unit / lanes_of(method.isa));
        const std::int64_t start = timing != nullptr ? clock_ns() : 0;
        kernel_of(method)(s, f, pieces.first[i], blocks);
        if (timing != nullptr) {
            timing->ns[pieces.slot[i]] += clock_ns() - start;
            timing->points[pieces.slot[i]] += pieces.units[i] * unit;
        }
    }
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

bool sweep_isa_supported(sweep_isa isa) {
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

bool sweep_method_supported(const sweep_method& method) {
    if (!sweep_isa_supported(method.isa)) return false;
    if (method.division == sweep_division::divider) return true;
#if defined(__x86_64__) || defined(__i386__)
    // AVX-512F has its own fused multiply-add; the 256-bit one is the separate FMA extension.
    if (method.isa == sweep_isa::avx512) return true;
    if (method.isa == sweep_isa::avx2) return __builtin_cpu_supports("fma");
#endif
    return false;
}

sweep_method widest_sweep_method() {
    for (sweep_isa isa : {sweep_isa::avx512, sweep_isa::avx2}) {
        if (sweep_isa_supported(isa)) return {isa, sweep_division::divider};
    }
    return {sweep_isa::sse2, sweep_division::divider};
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

void icn_step_sweep(FieldSet& fields, const RunParameters& params, const sweep_method& method,
                    int parts, part_order order) {
    sweep_layout layout;
    layout.method = method;
    layout.parts = parts;
    layout.order = order;
    icn_step_sweep(fields, params, layout);
}

void icn_step_sweep(FieldSet& fields, const RunParameters& params, const sweep_layout& layout,
                    sweep_timing* timing) {
    const grid_index nx = params.nx;
    if (nx < 0) return;
    sweep_method methods[1 + max_samples];
    methods[0] = usable_method(layout.method, params.dx);
    grid_index unit = lanes_of(methods[0].isa);
    const int samples = std::clamp(layout.samples, 0, max_samples);
    for (int k = 0; k < samples; ++k) {
        methods[1 + k] = usable_method(layout.sample_method[k], params.dx);
        unit = std::max(unit, lanes_of(methods[1 + k].isa));
    }
    step_levels s = start_levels(fields, params);

    // The middle writes the final values of points first..end-1, in units of the widest vector
    // of its methods. It starts at point 3 or later, where the stores of phi fall on whole
    // vectors, and stops where its iteration 1 would read the end point nx. The end regions are
    // 0..first-1 and end..nx; on a small grid there is no middle and the first region is the
    // whole grid.
    const auto address = reinterpret_cast<std::uintptr_t>(fields.phi.data() + 3);
    const grid_index bytes = unit * static_cast<grid_index>(sizeof(double));
    grid_index first = 3 + ((bytes - static_cast<grid_index>(address % bytes)) % bytes) /
                               static_cast<grid_index>(sizeof(double));
    const grid_index blocks = nx - 3 - first >= unit ? (nx - 3 - first) / unit : 0;
    if (blocks == 0) first = nx + 1;
    const grid_index end = first + blocks * unit;
    const middle_pieces pieces = lay_out_middle(first, blocks, unit, layout);

    // Level j in the first region reaches first+2-j and in the last one begins at end-3+j:
    // level 3 and phi cover the regions themselves, and levels 1 and 2 also the points the
    // middle starts from and the points the outgoing condition reads (1..3 and nx-3..nx-1).
    // A gap g..h-1 between two pieces is evaluated the same way, from g-3+j to h+2-j: its own
    // points, and levels 1 and 2 where the piece after it starts.
    auto gap_start = [&](int i) { return pieces.first[i] + pieces.units[i] * unit; };
    for (int j = 1; j <= 3; ++j) {
        s.ends[j] = boundary_ends(s, j);
        evaluate_level(s, j, 1, first + 2 - j);
        if (blocks > 0) {
            for (int i = 0; i + 1 < pieces.count; ++i) {
                evaluate_level(s, j, gap_start(i) - 3 + j, pieces.first[i + 1] + 2 - j);
            }
            evaluate_level(s, j, end - 3 + j, nx - 1);
        }
    }
    evaluate_phi(s, 0, first - 1);
    if (blocks > 0) {
        for (int i = 0; i + 1 < pieces.count; ++i) {
            evaluate_phi(s, gap_start(i), pieces.first[i + 1] - 1);
        }
        evaluate_phi(s, end, nx);
    }

    if (timing != nullptr) *timing = {};
    sweep_timing* const first_part_timing = pieces.samples > 0 ? timing : nullptr;
    if (blocks > 0) {
        if (layout.order == part_order::threads && pieces.parts > 1) {
#if defined(_OPENMP)
#pragma omp parallel for num_threads(pieces.parts) schedule(static, 1)
#endif
            for (int k = 0; k < pieces.parts; ++k) {
                run_part(pieces, k, methods, unit, s, fields, k == 0 ? first_part_timing : nullptr);
            }
        } else if (layout.order == part_order::reverse) {
            for (int k = pieces.parts - 1; k >= 0; --k) {
                run_part(pieces, k, methods, unit, s, fields, k == 0 ? first_part_timing : nullptr);
            }
        } else {
            for (int k = 0; k < pieces.parts; ++k) {
                run_part(pieces, k, methods, unit, s, fields, k == 0 ? first_part_timing : nullptr);
            }
        }
    }

    store_final(fields, s, 0, first - 1);
    if (blocks > 0) {
        for (int i = 0; i + 1 < pieces.count; ++i) {
            store_final(fields, s, gap_start(i), pieces.first[i + 1] - 1);
        }
        store_final(fields, s, end, nx);
    }
}
