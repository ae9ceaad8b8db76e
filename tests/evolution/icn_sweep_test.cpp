#include "evolution/icn_sweep.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "evolution/icn_step.hpp"
#include "support/test_fields.hpp"

namespace {

// Every instruction set the processor has, with each way of dividing it has.
std::vector<sweep_method> supported_methods() {
    sweep_method methods[max_sweep_methods];
    const int count = supported_sweep_methods(methods);
    return std::vector<sweep_method>(methods, methods + count);
}

std::string method_name(const sweep_method& method) {
    return sweep_method_name(method);
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

// Two copies of one random state: `passes` is stepped with icn_step_passes, `sweep` with the
// sweep. The scratch arrays of the two start with different contents (NaN in the sweep's), so
// that a result depending on anything left over from earlier shows up.
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

    // Steps both copies `steps` times, the sweep with the given method split into `parts` run in
    // the given order, checking after every step that phi, psi and pi agree at every point.
    void expect_same_steps(int steps, const sweep_method& method, int parts = 1,
                           part_order order = part_order::in_order, bool nan_equal = false) {
        sweep_layout layout;
        layout.method = method;
        layout.parts = parts;
        layout.order = order;
        expect_same_steps(steps, layout, nan_equal);
    }

    void expect_same_steps(int steps, sweep_layout layout, bool nan_equal = false) {
        const sweep_method& method = layout.method;
        const int parts = layout.parts;
        const part_order order = layout.order;
        for (int step = 1; step <= steps; ++step) {
            icn_step_passes(passes, params);
            icn_step_sweep(sweep, params, layout);
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
                                  << method_name(method) << ", " << parts << " parts"
                                  << (order == part_order::reverse ? " last to first" : "");
                    return;
                }
            }
        }
    }
};

const std::int32_t boundtypes[] = {1, 2, 0, 3, -1};

// Small grids exercise the end regions on their own, the end regions overlapping, the
// conditions skipped below their smallest nx, and the first few middles of one or two blocks.
TEST(IcnSweep, MatchesThePassesBitForBitOnEverySmallGrid) {
    ASSERT_TRUE(sweep_isa_supported(sweep_isa::sse2)) << "the baseline must always run";
    for (const sweep_method& method : supported_methods()) {
        for (std::int32_t boundtype : boundtypes) {
            for (std::int32_t nx = -1; nx <= 40; ++nx) {
                twin_runs runs(nx, boundtype,
                               1000u * static_cast<std::uint64_t>(nx + 1) +
                                   static_cast<std::uint64_t>(boundtype + 1));
                runs.expect_same_steps(40, method);
            }
        }
    }
}

TEST(IcnSweep, MatchesThePassesBitForBitOnLargeGrids) {
    for (const sweep_method& method : supported_methods()) {
        for (std::int32_t boundtype : boundtypes) {
            for (std::int32_t nx : {1000, 4097, 100003}) {
                twin_runs runs(nx, boundtype, static_cast<std::uint64_t>(nx) + 7u);
                runs.expect_same_steps(nx > 10000 ? 3 : 25, method);
            }
        }
    }
}

// dx = 0 makes every difference infinite or NaN; every NaN must arise where the passes get one.
TEST(IcnSweep, CarriesInfinitiesAndNaNsLikeThePasses) {
    for (const sweep_method& method : supported_methods()) {
        for (std::int32_t boundtype : boundtypes) {
            for (std::int32_t nx : {5, 37, 200}) {
                twin_runs runs(nx, boundtype, 99u);
                runs.params.dx = 0.0;
                runs.expect_same_steps(3, method, 2, part_order::in_order, true);
            }
        }
    }
}

// The parts of a split step run one after another, first to last and last to first, with the
// scratch arrays full of NaN: a part that read a value another part writes, or a gap point
// evaluated from anything but the start-of-step state, would change a result in one of the two
// orders. Two to five parts, with gaps of one or two blocks.
TEST(IcnSweep, SplitPartsInEitherOrderMatchThePasses) {
    for (const sweep_method& method : supported_methods()) {
        for (std::int32_t boundtype : boundtypes) {
            for (std::int32_t nx : {70, 1001}) {
                for (int parts = 2; parts <= 5; ++parts) {
                    for (part_order order : {part_order::in_order, part_order::reverse}) {
                        twin_runs runs(nx, boundtype, static_cast<std::uint64_t>(nx + parts));
                        runs.expect_same_steps(8, method, parts, order);
                    }
                }
            }
        }
    }
}

// Pieces measured with other kernels inside the first part, of every width next to each other,
// at places that move along the grid, with the first part alone and beside others; they fit
// partly or not at all into the small grids.
TEST(IcnSweep, PiecesOfOtherKernelsMatchThePasses) {
    const std::vector<sweep_method> methods = supported_methods();
    for (const sweep_method& method : methods) {
        for (std::int32_t nx : {60, 700, 20011}) {
            for (int parts : {1, 3}) {
                sweep_layout layout;
                layout.method = method;
                layout.parts = parts;
                layout.order = part_order::reverse;
                for (const sweep_method& other : methods) {
                    if (other == method || layout.samples == max_samples) continue;
                    layout.sample_method[layout.samples++] = other;
                }
                layout.sample_points = nx / 40 + 3;
                sweep_timing timing;
                twin_runs runs(nx, 2, static_cast<std::uint64_t>(nx) + 11u);
                runs.expect_same_steps(6, layout);
                icn_step_sweep(runs.sweep, runs.params, layout, &timing);
                std::int64_t timed_points = 0;
                for (std::int64_t points : timing.points)
                    timed_points += points;
                if (timing.points[1] > 0) {
                    EXPECT_LE(timed_points, nx / parts + 16) << method_name(method) << " " << nx;
                    EXPECT_GE(timing.points[1], layout.sample_points);
                }
            }
        }
    }
}

TEST(IcnSweep, SplitPartsOnThreadsMatchThePasses) {
    for (const sweep_method& method : supported_methods()) {
        for (int parts : {2, 3}) {
            twin_runs runs(20000, 1, static_cast<std::uint64_t>(parts));
            runs.expect_same_steps(5, method, parts, part_order::threads);
        }
    }
}

// The exact division on fields holding zeros of both signs, subnormals, values next to the ends
// of its safe range, huge values, infinities and NaN, with dx negative, at the ends of its range
// and beyond them: every vector with a numerator it cannot divide exactly takes the divider.
TEST(IcnSweep, ExactDivisionCarriesEveryClassOfValueLikeThePasses) {
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
                runs.expect_same_steps(3, method, 1, part_order::in_order, true);
            }
        }
    }
}

TEST(IcnSweep, IcnStepIsTheSweep) {
    twin_runs runs(300, 2, 5u);
    icn_step_passes(runs.passes, runs.params);
    icn_step(runs.sweep, runs.params);
    EXPECT_EQ(first_difference(runs.passes.phi, runs.sweep.phi, false), -1);
    EXPECT_EQ(first_difference(runs.passes.psi, runs.sweep.psi, false), -1);
    EXPECT_EQ(first_difference(runs.passes.pi, runs.sweep.pi, false), -1);
}

}  // namespace
