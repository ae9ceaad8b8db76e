#include "sweep/sweep.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "evolution/boundary_conditions.hpp"
#include "evolution/icn_step.hpp"
#include "evolution/right_hand_sides.hpp"
#include "support/test_fields.hpp"
#include "sweep/step_layout.hpp"

namespace {

// Every instruction set the processor has, with each way of dividing it has.
std::vector<sweep_method> supported_methods() {
    sweep_method methods[max_sweep_methods];
    const int count = supported_sweep_methods(methods);
    return std::vector<sweep_method>(methods, methods + count);
}

void fill_random(GridFunction& f, std::mt19937_64& random, double low, double high) {
    std::uniform_real_distribution<double> value(low, high);
    for (std::size_t k = 0; k < f.size(); ++k)
        f.data()[k] = value(random);
}

void copy_values(const GridFunction& from, GridFunction& to) {
    for (std::size_t k = 0; k < from.size(); ++k)
        to.data()[k] = from.data()[k];
}

// Index of the first point where a and b differ in any bit (or, with nan_equal, where they
// differ and are not both NaN); -1 when there is none.
std::int64_t first_difference(const GridFunction& a, const GridFunction& b, bool nan_equal) {
    for (std::size_t k = 0; k < a.size(); ++k) {
        const double x = a.data()[k];
        const double y = b.data()[k];
        if (std::memcmp(&x, &y, sizeof x) == 0) continue;
        if (nan_equal && std::isnan(x) && std::isnan(y)) continue;
        return static_cast<std::int64_t>(k);
    }
    return -1;
}

// Two copies of one random state: `passes` is stepped with icn_step, `sweep` with the sweep. The
// scratch arrays of the two start with different contents (NaN in the sweep's), so that a result
// depending on anything left over from earlier shows up.
struct twin_runs {
    RunParameters params;
    FieldSet passes;
    FieldSet sweep;

    twin_runs(std::int32_t nx, std::int32_t boundtype, std::uint64_t seed) {
        std::mt19937_64 random(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const double dx = 0.01 + unit(random);
        params = grid_parameters(nx, 0.0, dx * nx, 1.0);
        passes = make_fields(params);
        sweep = make_fields(params);
        params.dx = dx;
        params.dt = dx * (0.05 + 0.35 * unit(random));
        params.boundtype = boundtype;
        for (GridFunction* g : {&passes.phi, &passes.psi, &passes.pi}) {
            fill_random(*g, random, -1.0, 1.0);
        }
        fill_random(passes.alpha, random, 0.5, 1.0);
        fill_random(passes.beta, random, -0.5, 0.5);
        for (GridFunction* g : {&passes.phi_p, &passes.psi_p, &passes.pi_p, &passes.rhs_phi,
                                &passes.rhs_psi, &passes.rhs_pi, &passes.left, &passes.right}) {
            fill_random(*g, random, -9.0, 9.0);
        }
        for (GridFunction* g : {&sweep.phi_p, &sweep.psi_p, &sweep.pi_p, &sweep.rhs_phi,
                                &sweep.rhs_psi, &sweep.rhs_pi, &sweep.left, &sweep.right}) {
            fill(*g, std::numeric_limits<double>::quiet_NaN());
        }
        copy_values(passes.phi, sweep.phi);
        copy_values(passes.psi, sweep.psi);
        copy_values(passes.pi, sweep.pi);
        copy_values(passes.alpha, sweep.alpha);
        copy_values(passes.beta, sweep.beta);
    }

    // Steps both copies `steps` times, the sweep laid out as given (its ranges swept last to
    // first with `reverse`), checking after every step that phi, psi and pi agree at every point.
    void expect_same_steps(int steps, step_layout layout, bool reverse = false,
                           bool nan_equal = false) {
        for (int step = 1; step <= steps; ++step) {
            icn_step(passes, params);
            if (reverse) {
                const laid_out_ranges laid =
                    lay_out(middle_of(sweep, params.nx, vector_points(layout.method.isa)), layout);
                const sweep_step s = begin_step(sweep, params, laid.ranges);
                for (int i = laid.ranges.count - 1; i >= 0; --i) {
                    sweep_range(s, sweep, laid.ranges.first[i], laid.ranges.points[i],
                                layout.method);
                }
                end_step(sweep, s, laid.ranges);
            } else {
                make_step(sweep, params, layout);
            }
            // The samples move along the grid from step to step, as the plan moves them.
            layout.sample_offset += 997;
            const char* names[] = {"phi", "psi", "pi"};
            const GridFunction* a[] = {&passes.phi, &passes.psi, &passes.pi};
            const GridFunction* b[] = {&sweep.phi, &sweep.psi, &sweep.pi};
            for (int field = 0; field < 3; ++field) {
                const std::int64_t k = first_difference(*a[field], *b[field], nan_equal);
                if (k >= 0) {
                    ADD_FAILURE() << names[field] << "(" << k << ") differs after step " << step
                                  << ": " << a[field]->data()[k] << " by the passes, "
                                  << b[field]->data()[k] << " by the sweep; nx " << params.nx
                                  << ", boundtype " << params.boundtype << ", "
                                  << sweep_method_name(layout.method) << ", " << layout.parts
                                  << " parts" << (reverse ? " last to first" : "");
                    return;
                }
            }
        }
    }
};

step_layout one_kernel(const sweep_method& method, int parts = 1) {
    step_layout layout;
    layout.method = method;
    layout.parts = parts;
    return layout;
}

const std::int32_t boundtypes[] = {1, 2, 0, 3, -1};

// Small grids exercise the end regions on their own, the end regions overlapping, the
// conditions skipped below their smallest nx, and the first few middles of one or two blocks.
TEST(Sweep, MatchesThePassesBitForBitOnEverySmallGrid) {
    ASSERT_TRUE(sweep_method_supported({})) << "the baseline must always run";
    for (const sweep_method& method : supported_methods()) {
        for (std::int32_t boundtype : boundtypes) {
            for (std::int32_t nx = -1; nx <= 40; ++nx) {
                twin_runs runs(nx, boundtype,
                               1000u * static_cast<std::uint64_t>(nx + 1) +
                                   static_cast<std::uint64_t>(boundtype + 1));
                runs.expect_same_steps(40, one_kernel(method));
            }
        }
    }
}

TEST(Sweep, MatchesThePassesBitForBitOnLargeGrids) {
    for (const sweep_method& method : supported_methods()) {
        for (std::int32_t boundtype : boundtypes) {
            for (std::int32_t nx : {1000, 4097, 100003}) {
                twin_runs runs(nx, boundtype, static_cast<std::uint64_t>(nx) + 7u);
                runs.expect_same_steps(nx > 10000 ? 3 : 25, one_kernel(method));
            }
        }
    }
}

// dx = 0 makes every difference infinite or NaN; every NaN must arise where the passes get one.
TEST(Sweep, CarriesInfinitiesAndNaNsLikeThePasses) {
    for (const sweep_method& method : supported_methods()) {
        for (std::int32_t boundtype : boundtypes) {
            for (std::int32_t nx : {5, 37, 200}) {
                twin_runs runs(nx, boundtype, 99u);
                runs.params.dx = 0.0;
                runs.expect_same_steps(3, one_kernel(method, 2), false, true);
            }
        }
    }
}

// The parts of a split step run one after another, first to last and last to first, with the
// scratch arrays full of NaN: a part that read a value another part writes, or a gap point
// evaluated from anything but the start-of-step state, would change a result in one of the two
// orders. Two to five parts, with gaps of one or two blocks.
TEST(Sweep, SplitPartsInEitherOrderMatchThePasses) {
    for (const sweep_method& method : supported_methods()) {
        for (std::int32_t boundtype : boundtypes) {
            for (std::int32_t nx : {70, 1001}) {
                for (int parts = 2; parts <= 5; ++parts) {
                    for (bool reverse : {false, true}) {
                        twin_runs runs(nx, boundtype, static_cast<std::uint64_t>(nx + parts));
                        runs.expect_same_steps(8, one_kernel(method, parts), reverse);
                    }
                }
            }
        }
    }
}

// Pieces measured with other kernels inside the first part, of every width next to each other,
// at places that move along the grid, with the first part alone and beside others; they fit
// partly or not at all into the small grids.
TEST(Sweep, PiecesOfOtherKernelsMatchThePasses) {
    const std::vector<sweep_method> methods = supported_methods();
    for (const sweep_method& method : methods) {
        for (std::int32_t nx : {60, 700, 20011}) {
            for (int parts : {1, 3}) {
                step_layout layout = one_kernel(method, parts);
                for (const sweep_method& other : methods) {
                    if (other == method || layout.samples == max_samples) continue;
                    layout.sample_method[layout.samples++] = other;
                }
                layout.sample_points = nx / 40 + 3;
                sample_timing timing;
                twin_runs runs(nx, 2, static_cast<std::uint64_t>(nx) + 11u);
                runs.expect_same_steps(6, layout);
                make_step(runs.sweep, runs.params, layout, &timing);
                std::int64_t timed_points = 0;
                for (std::int64_t points : timing.points)
                    timed_points += points;
                if (timing.points[1] > 0) {
                    EXPECT_LE(timed_points, nx / parts + 16)
                        << sweep_method_name(method) << " " << nx;
                    EXPECT_GE(timing.points[1], layout.sample_points);
                }
            }
        }
    }
}

TEST(Sweep, SplitPartsOnThreadsMatchThePasses) {
    for (const sweep_method& method : supported_methods()) {
        for (int parts : {2, 3}) {
            twin_runs runs(20000, 1, static_cast<std::uint64_t>(parts));
            runs.expect_same_steps(5, one_kernel(method, parts));
        }
    }
}

// The exact division on fields holding zeros of both signs, subnormals, values next to the ends
// of its safe range, huge values, infinities and NaN, with dx negative, at the ends of its range
// and beyond them: every vector with a numerator it cannot divide exactly takes the divider.
TEST(Sweep, ExactDivisionCarriesEveryClassOfValueLikeThePasses) {
    const double specials[] = {0.0,
                               -0.0,
                               0x1p-1070,
                               -0x1p-1040,
                               0x1p-899,
                               -0x1p-901,
                               0x1p899,
                               -0x1p901,
                               1e300,
                               std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()};
    for (const sweep_method& method : supported_methods()) {
        for (double dx : {0.25, -0.5, -0x1p-100, 0x1p100, 0x1p-110, -0x1p110}) {
            for (std::int32_t boundtype : {1, 2, 0}) {
                twin_runs runs(300, boundtype, 3u);
                runs.params.dx = dx;
                runs.params.dt = std::fabs(dx) * 0.25;
                std::mt19937_64 random(17);
                for (GridFunction* g : {&runs.passes.psi, &runs.passes.pi, &runs.passes.beta}) {
                    for (std::size_t k = 0; k < g->size(); ++k) {
                        const std::uint64_t r = random();
                        // Mostly zeros, with the other classes sparse enough to leave whole
                        // vectors of ordinary values and of zeros.
                        if (r % 8 < 3) g->data()[k] = r % 2 ? 0.0 : -0.0;
                        if (r % 64 == 3) g->data()[k] = specials[(r >> 8) % std::size(specials)];
                    }
                }
                copy_values(runs.passes.psi, runs.sweep.psi);
                copy_values(runs.passes.pi, runs.sweep.pi);
                copy_values(runs.passes.beta, runs.sweep.beta);
                runs.expect_same_steps(3, one_kernel(method), false, true);
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
    auto rates = [](twin_runs& runs) {
        FieldSet& f = runs.passes;
        compute_rhs_phi(f);
        compute_rhs_psi_pi(f, nx, runs.params.dx);
        std::vector<double> r(f.rhs_phi.data(), f.rhs_phi.data() + nx + 1);
        for (std::int32_t i = 1; i < nx; ++i) {
            r.push_back(f.rhs_psi[i]);
            r.push_back(f.rhs_pi[i]);
        }
        return r;
    };
    for (const char* name : {"phi", "psi", "pi"}) {
        for (std::int32_t k = 0; k <= nx; ++k) {
            twin_runs base(nx, 0, 5u);
            twin_runs changed(nx, 0, 5u);
            GridFunction FieldSet::*field = name[1] == 'h'   ? &FieldSet::phi
                                            : name[1] == 's' ? &FieldSet::psi
                                                             : &FieldSet::pi;
            (changed.passes.*field)[k] += 0.5;
            const std::vector<double> before = rates(base);
            const std::vector<double> after = rates(changed);
            for (std::int32_t i = 0; i <= nx; ++i) {
                const bool may_change = field != &FieldSet::phi && i == k;
                EXPECT_EQ(before[i] != after[i], may_change)
                    << "rhs_phi(" << i << "), " << name << "(" << k << ") changed";
            }
            for (std::int32_t i = 1; i < nx; ++i) {
                const bool near = i - k <= stencil_reach && k - i <= stencil_reach && i != k;
                const std::size_t at = nx + 1 + 2 * static_cast<std::size_t>(i - 1);
                const bool changed_rate =
                    before[at] != after[at] || before[at + 1] != after[at + 1];
                EXPECT_EQ(changed_rate, field != &FieldSet::phi && near)
                    << "rhs_psi, rhs_pi(" << i << "), " << name << "(" << k << ") changed";
            }
        }
    }
    for (std::int32_t boundtype : boundtypes) {
        twin_runs runs(nx, boundtype, 9u);
        const twin_runs untouched(nx, boundtype, 9u);
        apply_boundaries(runs.passes, boundtype, nx);
        for (auto field : {&FieldSet::phi, &FieldSet::psi, &FieldSet::pi}) {
            for (std::int32_t i = 1; i < nx; ++i) {
                EXPECT_EQ((runs.passes.*field)[i], (untouched.passes.*field)[i])
                    << "boundtype " << boundtype << " wrote point " << i;
            }
        }
    }
}

}  // namespace
