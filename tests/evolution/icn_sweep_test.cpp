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

std::vector<sweep_isa> supported_isas() {
    std::vector<sweep_isa> isas;
    for (sweep_isa isa : {sweep_isa::sse2, sweep_isa::avx2, sweep_isa::avx512}) {
        if (sweep_isa_supported(isa)) isas.push_back(isa);
    }
    return isas;
}

std::string isa_name(sweep_isa isa) {
    switch (isa) {
        case sweep_isa::avx512:
            return "avx512";
        case sweep_isa::avx2:
            return "avx2";
        default:
            return "sse2";
    }
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

    // Steps both copies `steps` times, checking after every step that phi, psi and pi agree at
    // every point.
    void expect_same_steps(int steps, sweep_isa isa, bool nan_equal = false) {
        for (int step = 1; step <= steps; ++step) {
            icn_step_passes(passes, params);
            icn_step_sweep(sweep, params, isa);
            const char* names[] = {"phi", "psi", "pi"};
            const GridFunction* a[] = {&passes.phi, &passes.psi, &passes.pi};
            const GridFunction* b[] = {&sweep.phi, &sweep.psi, &sweep.pi};
            for (int field = 0; field < 3; ++field) {
                const std::int64_t k = first_difference(*a[field], *b[field], nan_equal);
                if (k >= 0) {
                    ADD_FAILURE() << names[field] << "(" << k << ") differs after step " << step
                                  << ": " << a[field]->data()[k] << " by the passes, "
                                  << b[field]->data()[k] << " by the sweep; nx " << params.nx
                                  << ", boundtype " << params.boundtype << ", " << isa_name(isa);
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
    for (sweep_isa isa : supported_isas()) {
        for (std::int32_t boundtype : boundtypes) {
            for (std::int32_t nx = -1; nx <= 40; ++nx) {
                twin_runs runs(nx, boundtype,
                               1000u * static_cast<std::uint64_t>(nx + 1) +
                                   static_cast<std::uint64_t>(boundtype + 1));
                runs.expect_same_steps(40, isa);
            }
        }
    }
}

TEST(IcnSweep, MatchesThePassesBitForBitOnLargeGrids) {
    for (sweep_isa isa : supported_isas()) {
        for (std::int32_t boundtype : boundtypes) {
            for (std::int32_t nx : {1000, 4097, 100003}) {
                twin_runs runs(nx, boundtype, static_cast<std::uint64_t>(nx) + 7u);
                runs.expect_same_steps(nx > 10000 ? 3 : 25, isa);
            }
        }
    }
}

// dx = 0 makes every difference infinite or NaN; every NaN must arise where the passes get one.
TEST(IcnSweep, CarriesInfinitiesAndNaNsLikeThePasses) {
    for (sweep_isa isa : supported_isas()) {
        for (std::int32_t boundtype : boundtypes) {
            for (std::int32_t nx : {5, 37, 200}) {
                twin_runs runs(nx, boundtype, 99u);
                runs.params.dx = 0.0;
                runs.expect_same_steps(3, isa, true);
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
