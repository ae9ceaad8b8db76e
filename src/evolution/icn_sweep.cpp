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
    double h[4];  // h[j]: step length of iteration j; h[0] is unused
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

// The middle of the sweep: `blocks` blocks of lanes<V> points whose final values are written,
// from point `first` on. At sweep position p (a block of points p..p+w-1) iteration 1 is
// evaluated at p.., iteration 2 at p-1.. and iteration 3 at p-2..; each iteration's right
// neighbours are exactly the block just computed by the one before, the left ones are shifted
// in from the previous block. Reads never reach the end points, and every read of psi and pi
// comes before the write of its point.
template <class V>
[[gnu::always_inline]] inline void sweep_middle(const step_levels& s, double* phi, double* psi,
                                                double* pi, grid_index first, grid_index blocks) {
    constexpr grid_index w = lanes<V>;
    const double* alpha = s.alpha;
    const double* beta = s.beta;
    const double dx = s.dx;
    // Iterations 1 and 2 at the two points before the first block, in its last two lanes.
    V psi1_before{}, pi1_before{}, psi2_before{}, pi2_before{};
    psi1_before[w - 2] = s.psi_level[1][first];
    psi1_before[w - 1] = s.psi_level[1][first + 1];
    pi1_before[w - 2] = s.pi_level[1][first];
    pi1_before[w - 1] = s.pi_level[1][first + 1];
    psi2_before[w - 2] = s.psi_level[2][first - 1];
    psi2_before[w - 1] = s.psi_level[2][first];
    pi2_before[w - 2] = s.pi_level[2][first - 1];
    pi2_before[w - 1] = s.pi_level[2][first];

    for (grid_index b = 0; b < blocks; ++b) {
        const grid_index p = first + 2 + b * w;
        // Iteration 1 at p.., from the state at the start of the step.
        const V alpha_m1 = load<V>(alpha + p - 1), beta_m1 = load<V>(beta + p - 1);
        const V alpha_p1 = load<V>(alpha + p + 1), beta_p1 = load<V>(beta + p + 1);
        const V psi_m1 = load<V>(psi + p - 1), pi_m1 = load<V>(pi + p - 1);
        const V psi_p1 = load<V>(psi + p + 1), pi_p1 = load<V>(pi + p + 1);
        const V psi1 = advance(
            load<V>(psi + p),
            rhs_psi_at(alpha_m1, beta_m1, psi_m1, pi_m1, alpha_p1, beta_p1, psi_p1, pi_p1, dx),
            s.h[1]);
        const V pi1 = advance(
            load<V>(pi + p),
            rhs_pi_at(alpha_m1, beta_m1, psi_m1, pi_m1, alpha_p1, beta_p1, psi_p1, pi_p1, dx),
            s.h[1]);

        // Iteration 2 at p-1.., from iteration 1 at p-2.. and p..
        const V alpha_m2 = load<V>(alpha + p - 2), beta_m2 = load<V>(beta + p - 2);
        const V alpha_0 = load<V>(alpha + p), beta_0 = load<V>(beta + p);
        const V psi1_m = from_left<2>(psi1_before, psi1), pi1_m = from_left<2>(pi1_before, pi1);
        const V psi2 = advance(
            psi_m1, rhs_psi_at(alpha_m2, beta_m2, psi1_m, pi1_m, alpha_0, beta_0, psi1, pi1, dx),
            s.h[2]);
        const V pi2 = advance(
            pi_m1, rhs_pi_at(alpha_m2, beta_m2, psi1_m, pi1_m, alpha_0, beta_0, psi1, pi1, dx),
            s.h[2]);

        // Iteration 3 at p-2.., from iteration 2 at p-3.. and p-1..; these are final.
        const V alpha_m3 = load<V>(alpha + p - 3), beta_m3 = load<V>(beta + p - 3);
        const V psi2_m = from_left<2>(psi2_before, psi2), pi2_m = from_left<2>(pi2_before, pi2);
        const V psi3 = advance(
            load<V>(psi + p - 2),
            rhs_psi_at(alpha_m3, beta_m3, psi2_m, pi2_m, alpha_m1, beta_m1, psi2, pi2, dx), s.h[3]);
        const V pi3 = advance(
            load<V>(pi + p - 2),
            rhs_pi_at(alpha_m3, beta_m3, psi2_m, pi2_m, alpha_m1, beta_m1, psi2, pi2, dx), s.h[3]);
        const V phi3 = advance(load<V>(phi + p - 2),
                               rhs_phi_at(alpha_m2, from_left<1>(pi2_before, pi2), beta_m2,
                                          from_left<1>(psi2_before, psi2)),
                               s.h[3]);
        store(psi + p - 2, psi3);
        store(pi + p - 2, pi3);
        store(phi + p - 2, phi3);

        psi1_before = psi1;
        pi1_before = pi1;
        psi2_before = psi2;
        pi2_before = pi2;
    }
}

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx512f")]] void sweep_middle_avx512(const step_levels& s, FieldSet& f,
                                                    grid_index first, grid_index blocks) {
    sweep_middle<vec8>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
}

[[gnu::target("avx2")]] void sweep_middle_avx2(const step_levels& s, FieldSet& f, grid_index first,
                                               grid_index blocks) {
    sweep_middle<vec4>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
}
#endif

void sweep_middle_sse2(const step_levels& s, FieldSet& f, grid_index first, grid_index blocks) {
    sweep_middle<vec2>(s, f.phi.data(), f.psi.data(), f.pi.data(), first, blocks);
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

}  // namespace

bool sweep_isa_supported(sweep_isa isa) {
#if defined(__x86_64__) || defined(__i386__)
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

void icn_step_sweep(FieldSet& fields, const RunParameters& params, sweep_isa isa) {
    const grid_index nx = params.nx;
    if (nx < 0) return;
    step_levels s = start_levels(fields, params);

    // The middle writes the final values of points first..end-1, blocks of w points. It starts
    // at point 3 or later, where the stores of phi fall on whole vectors, and stops where its
    // iteration 1 would read the end point nx. The end regions are 0..first-1 and end..nx;
    // on a small grid there is no middle and the first region is the whole grid.
    const grid_index w = lanes_of(isa);
    const auto address = reinterpret_cast<std::uintptr_t>(fields.phi.data() + 3);
    const grid_index bytes = w * static_cast<grid_index>(sizeof(double));
    grid_index first = 3 + ((bytes - static_cast<grid_index>(address % bytes)) % bytes) /
                               static_cast<grid_index>(sizeof(double));
    const grid_index blocks = nx - 3 - first >= w ? (nx - 3 - first) / w : 0;
    if (blocks == 0) first = nx + 1;
    const grid_index end = first + blocks * w;

    // Level j in the first region reaches first+2-j and in the last one begins at end-3+j:
    // level 3 and phi cover the regions themselves, and levels 1 and 2 also the points the
    // middle starts from and the points the outgoing condition reads (1..3 and nx-3..nx-1).
    for (int j = 1; j <= 3; ++j) {
        s.ends[j] = boundary_ends(s, j);
        evaluate_level(s, j, 1, first + 2 - j);
        if (blocks > 0) evaluate_level(s, j, end - 3 + j, nx - 1);
    }
    evaluate_phi(s, 0, first - 1);
    if (blocks > 0) evaluate_phi(s, end, nx);

    if (blocks > 0) {
        switch (isa) {
#if defined(__x86_64__) || defined(__i386__)
            case sweep_isa::avx512:
                sweep_middle_avx512(s, fields, first, blocks);
                break;
            case sweep_isa::avx2:
                sweep_middle_avx2(s, fields, first, blocks);
                break;
#endif
            default:
                sweep_middle_sse2(s, fields, first, blocks);
                break;
        }
    }

    store_final(fields, s, 0, first - 1);
    if (blocks > 0) store_final(fields, s, end, nx);
}

void icn_step(FieldSet& fields, const RunParameters& params) {
    icn_step_sweep(fields, params, widest_sweep_isa());
}
