#include "evolution/icn_sweep.hpp"

// Vector values are only ever passed to always-inlined helpers inside functions compiled for
// the matching instruction set, so the calling-convention difference that -Wpsabi warns about
// (a vector argument without that instruction set enabled) never reaches a real call.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "evolution/boundary_conditions.hpp"
#include "evolution/icn_step.hpp"
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
    s.psi_level[1] = f.psi_p.data();
    s.pi_level[1] = f.pi_p.data();
    s.psi_level[2] = f.rhs_psi.data();
    s.pi_level[2] = f.rhs_pi.data();
    s.psi_level[3] = f.left.data();
    s.pi_level[3] = f.right.data();
    s.phi_new = f.rhs_phi.data();
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

// The rates of psi and pi of one iteration from the fluxes at i-1 (m) and i+1 (p): divided
// exactly without the divider when `exact` and every lane's numerators are safe for it, with the
// divider otherwise. Both ways give the same doubles.
template <bool exact, class V>
[[gnu::always_inline]] inline void rates_of(const point_fluxes<V>& m, const point_fluxes<V>& p,
                                            const step_levels& s, V& psi_rate, V& pi_rate) {
    if constexpr (exact) {
        exact_division<V> division{s.divisor};
        psi_rate = rhs_psi_of(m, p, division);
        pi_rate = rhs_pi_of(m, p, division);
        long long unsafe = 0;
        for (grid_index lane = 0; lane < lanes<V>; ++lane) {
            unsafe |= division.unsafe[lane];
        }
        if (unsafe >= 0) [[likely]]
            return;
    }
    psi_rate = rhs_psi_of(m, p, s.dx);
    pi_rate = rhs_pi_of(m, p, s.dx);
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
// nothing outside its own points. Bit j-1 of `exact` makes iteration j divide without the
// divider.
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
        point_fluxes<V> f1 = f1_before;
        point_fluxes<V> f2 = f2_before;
        V psi_rate, pi_rate;
        if (b < blocks) {
            // Iteration 1 at p.., from the state at the start of the step: fluxes at p+1..
            const point_fluxes<V> f0 = fluxes_at(load<V>(alpha + p + 1), load<V>(beta + p + 1),
                                                 load<V>(psi + p + 1), load<V>(pi + p + 1));
            rates_of<(exact & 1u) != 0>(from_left<2>(f0_before, f0), f0, s, psi_rate, pi_rate);
            const V psi1 = advance(load<V>(psi + p), psi_rate, s.h[1]);
            const V pi1 = advance(load<V>(pi + p), pi_rate, s.h[1]);
            f1 = fluxes_at(load<V>(alpha + p), load<V>(beta + p), psi1, pi1);
            f0_before = f0;
        }
        if (b >= 1 && b <= blocks) {
            // Iteration 2 at q.., q = p-w-1, from iteration 1 at q-1.. and q+1.. (block b-1).
            const grid_index q = p - w - 1;
            rates_of<(exact & 2u) != 0>(from_left<2>(f1_before2, f1_before), f1_before, s, psi_rate,
                                        pi_rate);
            const V psi2 = advance(load<V>(psi + q), psi_rate, s.h[2]);
            const V pi2 = advance(load<V>(pi + q), pi_rate, s.h[2]);
            f2 = fluxes_at(load<V>(alpha + q), load<V>(beta + q), psi2, pi2);
        }
        if (b >= 2) {
            // Iteration 3 at r.., r = p-2w-2, from iteration 2 at r-1.. and r+1..; final.
            const grid_index r = p - 2 * w - 2;
            rates_of<(exact & 4u) != 0>(from_left<2>(f2_before2, f2_before), f2_before, s, psi_rate,
                                        pi_rate);
            const V psi3 = advance(load<V>(psi + r), psi_rate, s.h[3]);
            const V pi3 = advance(load<V>(pi + r), pi_rate, s.h[3]);
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

// The iterations that divide without the divider when the exact division is chosen: only the
// first. Then the divider does eight of the twelve divisions of a point and the vector pipes the
// other four, each alongside the other. Measured on an Intel Xeon (family 6, model 207): with
// AVX-512, 8.2 ns a point with the divider alone, 6.6 with no division on it, 5.5 with any
// one iteration on the pipes; with AVX2, 8.4, 10.0 and 6.4.
constexpr unsigned exact_iterations = 1u;

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx512f")]] void sweep_middle_avx512(const step_levels& s, FieldSet& f,
                                                    grid_index first, grid_index blocks) {
    sweep_middle<vec8, 0>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
}

[[gnu::target("avx512f")]] void sweep_middle_avx512_exact(const step_levels& s, FieldSet& f,
                                                          grid_index first, grid_index blocks) {
    sweep_middle<vec8, exact_iterations>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
}

[[gnu::target("avx2")]] void sweep_middle_avx2(const step_levels& s, FieldSet& f, grid_index first,
                                               grid_index blocks) {
    sweep_middle<vec4, 0>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
}

[[gnu::target("avx2,fma")]] void sweep_middle_avx2_exact(const step_levels& s, FieldSet& f,
                                                         grid_index first, grid_index blocks) {
    sweep_middle<vec4, exact_iterations>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
}
#endif

void sweep_middle_sse2(const step_levels& s, FieldSet& f, grid_index first, grid_index blocks) {
    sweep_middle<vec2, 0>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
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

void run_middle(const sweep_method& method, const step_levels& s, FieldSet& f, grid_index first,
                grid_index blocks) {
    const bool exact = method.division == sweep_division::multiply_add;
    switch (method.isa) {
#if defined(__x86_64__) || defined(__i386__)
        case sweep_isa::avx512:
            (exact ? sweep_middle_avx512_exact : sweep_middle_avx512)(s, f, first, blocks);
            return;
        case sweep_isa::avx2:
            (exact ? sweep_middle_avx2_exact : sweep_middle_avx2)(s, f, first, blocks);
            return;
#endif
        default:
            sweep_middle_sse2(s, f, first, blocks);
            return;
    }
}

// The most parts a middle is split into; more threads than this share them.
constexpr int max_parts = 256;

// The middle's parts: part k writes the final values of points first[k]..first[k]+blocks[k]*w-1.
// Between two parts lies a gap of whole blocks, at least three points: a part reads the
// start-of-step state up to two points past its end, and the next part overwrites it in place.
struct middle_parts {
    int count = 0;
    grid_index first[max_parts];
    grid_index blocks[max_parts];
};

middle_parts split_middle(grid_index first, grid_index blocks, grid_index w, int wanted) {
    const grid_index gap_blocks = (3 + w - 1) / w;
    grid_index count = std::clamp(wanted, 1, max_parts);
    while (count > 1 && blocks < count + (count - 1) * gap_blocks) {
        --count;
    }
    middle_parts parts;
    parts.count = static_cast<int>(count);
    const grid_index usable = blocks - (count - 1) * gap_blocks;
    grid_index at = first;
    for (grid_index k = 0; k < count; ++k) {
        parts.first[k] = at;
        parts.blocks[k] = usable / count + (k < usable % count ? 1 : 0);
        at += (parts.blocks[k] + gap_blocks) * w;
    }
    return parts;
}

}  // namespace

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

sweep_isa widest_sweep_isa() {
    if (sweep_isa_supported(sweep_isa::avx512)) return sweep_isa::avx512;
    if (sweep_isa_supported(sweep_isa::avx2)) return sweep_isa::avx2;
    return sweep_isa::sse2;
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

sweep_method fastest_sweep_method() {
    const sweep_method exact{widest_sweep_isa(), sweep_division::multiply_add};
    if (sweep_method_supported(exact)) return exact;
    return {widest_sweep_isa(), sweep_division::divider};
}

void icn_step_sweep(FieldSet& fields, const RunParameters& params, sweep_isa isa) {
    icn_step_sweep(fields, params, sweep_method{isa, sweep_division::divider});
}

void icn_step_sweep(FieldSet& fields, const RunParameters& params, const sweep_method& requested,
                    int parts, part_order order) {
    const grid_index nx = params.nx;
    if (nx < 0) return;
    sweep_method method = requested;
    if (!sweep_isa_supported(method.isa)) method.isa = widest_sweep_isa();
    if (!sweep_method_supported(method) || !exact_division_applies(params.dx)) {
        method.division = sweep_division::divider;
    }
    step_levels s = start_levels(fields, params);

    // The middle writes the final values of points first..end-1, blocks of w points. It starts
    // at point 3 or later, where the stores of phi fall on whole vectors, and stops where its
    // iteration 1 would read the end point nx. The end regions are 0..first-1 and end..nx;
    // on a small grid there is no middle and the first region is the whole grid.
    const grid_index w = lanes_of(method.isa);
    const auto address = reinterpret_cast<std::uintptr_t>(fields.phi.data() + 3);
    const grid_index bytes = w * static_cast<grid_index>(sizeof(double));
    grid_index first = 3 + ((bytes - static_cast<grid_index>(address % bytes)) % bytes) /
                               static_cast<grid_index>(sizeof(double));
    const grid_index blocks = nx - 3 - first >= w ? (nx - 3 - first) / w : 0;
    if (blocks == 0) first = nx + 1;
    const grid_index end = first + blocks * w;
    const middle_parts middle = split_middle(first, blocks, w, blocks > 0 ? parts : 1);

    // Level j in the first region reaches first+2-j and in the last one begins at end-3+j:
    // level 3 and phi cover the regions themselves, and levels 1 and 2 also the points the
    // middle starts from and the points the outgoing condition reads (1..3 and nx-3..nx-1).
    // A gap g..h-1 between two parts is evaluated the same way, from g-3+j to h+2-j: its own
    // points, and levels 1 and 2 where the part after it starts.
    auto gap_start = [&](int k) { return middle.first[k] + middle.blocks[k] * w; };
    for (int j = 1; j <= 3; ++j) {
        s.ends[j] = boundary_ends(s, j);
        evaluate_level(s, j, 1, first + 2 - j);
        for (int k = 0; k + 1 < middle.count; ++k) {
            evaluate_level(s, j, gap_start(k) - 3 + j, middle.first[k + 1] + 2 - j);
        }
        if (blocks > 0) evaluate_level(s, j, end - 3 + j, nx - 1);
    }
    evaluate_phi(s, 0, first - 1);
    for (int k = 0; k + 1 < middle.count; ++k) {
        evaluate_phi(s, gap_start(k), middle.first[k + 1] - 1);
    }
    if (blocks > 0) evaluate_phi(s, end, nx);

    if (blocks > 0) {
        if (order == part_order::threads && middle.count > 1) {
#if defined(_OPENMP)
#pragma omp parallel for num_threads(middle.count) schedule(static, 1)
#endif
            for (int k = 0; k < middle.count; ++k) {
                run_middle(method, s, fields, middle.first[k], middle.blocks[k]);
            }
        } else if (order == part_order::reverse) {
            for (int k = middle.count - 1; k >= 0; --k) {
                run_middle(method, s, fields, middle.first[k], middle.blocks[k]);
            }
        } else {
            for (int k = 0; k < middle.count; ++k) {
                run_middle(method, s, fields, middle.first[k], middle.blocks[k]);
            }
        }
    }

    store_final(fields, s, 0, first - 1);
    for (int k = 0; k + 1 < middle.count; ++k) {
        store_final(fields, s, gap_start(k), middle.first[k + 1] - 1);
    }
    if (blocks > 0) store_final(fields, s, end, nx);
}

void icn_step(FieldSet& fields, const RunParameters& params) {
    icn_step_sweep(fields, params, fastest_sweep_method());
}
