#include "sweep/sweep.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "evolution/boundary_conditions.hpp"
#include "evolution/icn_step.hpp"
#include "evolution/right_hand_sides.hpp"
#include "support/test_fields.hpp"
#include "sweep/step_layout.hpp"

namespace {

// A grid of nx intervals with a random dx and dt and random fields; the same for the same seed.
struct random_state {
    RunParameters params;
    FieldSet fields;

    random_state(std::int32_t nx, std::uint64_t seed) {
        std::mt19937_64 random(seed);
        auto fill_random = [&](GridFunction& f, double low, double high) {
            std::uniform_real_distribution<double> value(low, high);
            std::generate_n(f.data(), f.size(), [&] { return value(random); });
        };
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const double dx = 0.01 + unit(random);
        params = grid_parameters(nx, 0.0, dx * nx, 1.0);
        fields = make_fields(params);
        params.dx = dx;
        params.dt = dx * (0.05 + 0.35 * unit(random));
        for (GridFunction* g : {&fields.phi, &fields.psi, &fields.pi})
            fill_random(*g, -1.0, 1.0);
        fill_random(fields.alpha, 0.5, 1.0);
        fill_random(fields.beta, -0.5, 0.5);
    }
};

// Whether x and y have the same bits or are both NaN (whose bits the two ways of computing may
// choose differently).
bool same_value(double x, double y) {
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y) ||
           (std::isnan(x) && std::isnan(y));
}

// Steps `passes` with icn_step and a copy of it with the sweep laid out as given (its ranges
// swept last to first with `reverse`), `steps` times, checking after every step that phi, psi
// and pi agree at every point. The copy's scratch arrays start full of NaN, so that a result
// depending on anything left over from earlier shows up.
void expect_same_steps(random_state& passes, int steps, step_layout layout, bool reverse) {
    RunParameters params = passes.params;
    FieldSet sweep = make_fields(params);
    for (GridFunction FieldSet::*g :
         {&FieldSet::phi, &FieldSet::psi, &FieldSet::pi, &FieldSet::alpha, &FieldSet::beta}) {
        std::copy_n((passes.fields.*g).data(), (passes.fields.*g).size(), (sweep.*g).data());
    }
    for (GridFunction* g : {&sweep.phi_p, &sweep.psi_p, &sweep.pi_p, &sweep.rhs_phi, &sweep.rhs_psi,
                            &sweep.rhs_pi, &sweep.left, &sweep.right})
        fill(*g, std::numeric_limits<double>::quiet_NaN());
    for (int step = 1; step <= steps; ++step) {
        icn_step(passes.fields, passes.params);
        if (reverse) {
            const laid_out_ranges laid = lay_out(
                middle_of(sweep, passes.params.nx, vector_points(layout.method.isa)), layout);
            const sweep_step s = begin_step(sweep, passes.params, laid.ranges);
            for (int i = laid.ranges.count - 1; i >= 0; --i)
                sweep_range(s, sweep, laid.ranges.first[i], laid.ranges.points[i], layout.method);
            end_step(sweep, s, laid.ranges);
        } else {
            make_step(sweep, passes.params, layout);
        }
        // The samples move along the grid from step to step, as the plan moves them.
        layout.sample_offset += 997;
        for (const auto& [name, g] :
             {std::pair{"phi", &FieldSet::phi}, {"psi", &FieldSet::psi}, {"pi", &FieldSet::pi}}) {
            const double* a = (passes.fields.*g).data();
            const double* b = (sweep.*g).data();
            const std::size_t n = (sweep.*g).size();
            const std::size_t k = std::mismatch(a, a + n, b, same_value).first - a;
            ASSERT_EQ(k, n) << name << "(" << k << ") differs after step " << step << ": " << a[k]
                            << " by the passes, " << b[k] << " by the sweep";
        }
    }
}

const std::int32_t boundtypes[] = {1, 2, 0, 3, -1};

// Zeros of both signs, subnormals, values next to the ends of the exact division's safe range,
// huge values, infinities and NaN in psi, pi and beta: mostly zeros, the other classes sparse
// enough to leave whole vectors of ordinary values and of zeros.
void scatter_special_values(FieldSet& f, std::uint64_t seed) {
    const double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {0.0,     -0.0,     0x1p-1070, -0x1p-1040, 0x1p-899,    -0x1p-901,
                               0x1p899, -0x1p901, 1e300,     inf,        std::nan("")};
    std::mt19937_64 random(seed);
    for (GridFunction* g : {&f.psi, &f.pi, &f.beta}) {
        for (std::size_t k = 0; k < g->size(); ++k) {
            const std::uint64_t r = random();
            if (r % 8 < 3) g->data()[k] = r % 2 ? 0.0 : -0.0;
            if (r % 64 == 3) g->data()[k] = specials[(r >> 8) % std::size(specials)];
        }
    }
}

// The sweep against icn_step, bit for bit: every kernel, every boundary type, each case's grids
// and dx, its steps split into each number of parts.
struct sweep_case {
    const char* what;
    std::vector<std::int32_t> nx;
    int steps;
    std::vector<int> parts = {1};
    std::vector<std::optional<double>> dx = {std::nullopt};  // nullopt: a random one
    bool special_values = false;  // psi, pi and beta of every class of value
    bool samples = false;         // ranges of the other kernels inside the first part
};

// One case on one grid: a split step also swept last part first; the samples also timed.
void check_grid(const sweep_case& c, const step_layout& layout, std::int32_t nx,
                std::int32_t boundtype, std::optional<double> dx, std::uint64_t seed) {
    for (const bool reverse : {false, true}) {
        if (reverse && layout.parts == 1) continue;
        random_state passes(nx, seed);
        passes.params.boundtype = boundtype;
        if (dx) {  // dt in step with it, so that the last bit of every quotient counts
            passes.params.dx = *dx;
            if (*dx != 0) passes.params.dt = std::fabs(*dx) * 0.25;
        }
        if (c.special_values) scatter_special_values(passes.fields, seed);
        SCOPED_TRACE(reverse ? "last part first" : "first part first");
        expect_same_steps(passes, c.steps, layout, reverse);
    }
    if (!c.samples) return;
    random_state passes(nx, seed);
    sample_timing timing;
    make_step(passes.fields, passes.params, layout, &timing);
    if (timing.points[1] == 0) return;
    std::int64_t timed = 0;  // only the first part's ranges
    for (const std::int64_t points : timing.points)
        timed += points;
    EXPECT_LE(timed, nx / layout.parts + 16);
    EXPECT_GE(timing.points[1], layout.sample_points);
}

TEST(Sweep, MatchesThePassesBitForBit) {
    ASSERT_TRUE(sweep_method_supported({})) << "the baseline must always run";
    std::vector<std::int32_t> small(42);
    std::iota(small.begin(), small.end(), -1);
    const sweep_case cases[] = {
        // The end regions on their own and overlapping, the conditions skipped below their
        // smallest nx, and the first few middles of one or two blocks.
        {.what = "small grids", .nx = small, .steps = 40},
        {.what = "large grids", .nx = {1000, 4097}, .steps = 25},
        {.what = "a very large grid", .nx = {100003}, .steps = 3},
        // dx 0 makes every difference infinite or NaN; every NaN must arise where the passes
        // get one.
        {.what = "dx 0", .nx = {5, 37, 200}, .steps = 3, .parts = {2}, .dx = {0.0}},
        // Every vector with a numerator that the exact division cannot divide exactly takes the
        // divider; dx negative, at the ends of its range and beyond them.
        {.what = "every class of value",
         .nx = {300},
         .steps = 3,
         .dx = {0.25, -0.5, -0x1p-100, 0x1p100, 0x1p-110, -0x1p110},
         .special_values = true},
        // With the scratch arrays full of NaN, a part that read a value another part writes, or
        // a gap point evaluated from anything but the start-of-step state, would change a result
        // in one of the two orders. Gaps of one or two blocks.
        {.what = "split steps", .nx = {70, 1001}, .steps = 8, .parts = {2, 3, 4, 5}},
        // Samples of every width next to each other, at places that move along the grid, in
        // the first part alone and beside others; they fit partly or not at all into the
        // smaller grids.
        {.what = "samples", .nx = {60, 700, 20011}, .steps = 6, .parts = {1, 3}, .samples = true},
    };
    sweep_method supported[max_sweep_methods];
    const std::span<sweep_method> methods(supported, supported_sweep_methods(supported));
    std::uint64_t seed = 0;
    for (const sweep_method& method : methods) {
        for (const sweep_case& c : cases) {
            step_layout layout;
            layout.method = method;
            for (const sweep_method& other : methods) {
                if (c.samples && other != method) layout.sample_method[layout.samples++] = other;
            }
            for (const std::int32_t nx : c.nx) {
                layout.sample_points = nx / 40 + 3;
                for (const std::int32_t boundtype : boundtypes) {
                    for (const int parts : c.parts) {
                        layout.parts = parts;
                        for (const std::optional<double> dx : c.dx) {
                            SCOPED_TRACE(std::string(c.what) + ": " + sweep_method_name(method) +
                                         ", nx " + std::to_string(nx) + ", boundtype " +
                                         std::to_string(boundtype) + ", " + std::to_string(parts) +
                                         " parts, dx " +
                                         (dx ? testing::PrintToString(*dx) : "random"));
                            check_grid(c, layout, nx, boundtype, dx, ++seed);
                        }
                    }
                }
            }
        }
    }
}

// What the sweep assumes of the equations, checked on them: changing phi at one point changes
// no rate; changing psi or pi at point k changes the rates only within stencil_reach of k; the
// boundary conditions write nothing but the end points. Should one of them stop holding, the
// sweep would give other results than icn_step without a word; this says which.
TEST(Sweep, TheEquationsAreWhatTheSweepAssumes) {
    constexpr std::int32_t nx = 12;
    for (const auto& [name, g] :
         {std::pair{"phi", &FieldSet::phi}, {"psi", &FieldSet::psi}, {"pi", &FieldSet::pi}}) {
        const bool rates_change = g != &FieldSet::phi;
        for (std::int32_t k = 0; k <= nx; ++k) {
            random_state before(nx, 5);
            random_state after(nx, 5);
            (after.fields.*g)[k] += 0.5;
            for (random_state* s : {&before, &after}) {
                compute_rhs_phi(s->fields);
                compute_rhs_psi_pi(s->fields, nx, s->params.dx);
            }
            const FieldSet& b = before.fields;
            const FieldSet& a = after.fields;
            for (std::int32_t i = 0; i <= nx; ++i) {
                EXPECT_EQ(b.rhs_phi[i] != a.rhs_phi[i], rates_change && i == k)
                    << "rhs_phi(" << i << "), " << name << "(" << k << ") changed";
                if (i == 0 || i == nx) continue;
                const bool near = i != k && std::abs(i - k) <= stencil_reach;
                EXPECT_EQ(b.rhs_psi[i] != a.rhs_psi[i] || b.rhs_pi[i] != a.rhs_pi[i],
                          rates_change && near)
                    << "rhs_psi, rhs_pi(" << i << "), " << name << "(" << k << ") changed";
            }
        }
    }
    for (const std::int32_t boundtype : boundtypes) {
        random_state runs(nx, 9);
        const random_state untouched(nx, 9);
        apply_boundaries(runs.fields, boundtype, nx);
        for (auto g : {&FieldSet::phi, &FieldSet::psi, &FieldSet::pi}) {
            for (std::int32_t i = 1; i < nx; ++i) {
                EXPECT_EQ((runs.fields.*g)[i], (untouched.fields.*g)[i])
                    << "boundtype " << boundtype << " wrote point " << i;
            }
        }
    }
}

}  // namespace
