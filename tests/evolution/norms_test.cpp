// The norms on grids with no interior, and with values that are not finite: a NaN anywhere shows
// in the largest values that read it, whatever comes after it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "evolution/norms.hpp"
#include "support/test_fields.hpp"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(Norms, EmptySumsAreZeroAndNonFiniteValuesShow) {
    struct grid {
        std::string what;
        int nx;
        double phi_at_1;  // phi at point 1, where there is one; phi is 1 elsewhere, psi 2, pi 0
        field_norms want;
    };
    const grid cases[] = {
        {"no point", -1, 0, {0, 0, 0, 0, 0, 0, 0}},
        {"no interior", 1, -3, {3, 0, 0, 0, 0, 0, 0}},
        // phi = 1, NaN, 1, 5: the NaN comes before the larger 5, and C(2) after a finite C(1) = 2.
        {"NaN before a larger phi", 3, nan, {nan, nan, 2, 0, 2, nan, nan}},
        {"infinite phi", 3, -inf, {inf, inf, 2, 0, 2, inf, inf}},
    };
    for (const grid& g : cases) {
        RunParameters params = grid_parameters(g.nx, 0, 0.5 * g.nx, 0.5);
        FieldSet fields = make_fields(params);
        fill(fields.phi, 1);
        fill(fields.psi, 2);
        fill(fields.pi, 0);
        if (g.nx >= 1) fields.phi.data()[1] = g.phi_at_1;
        if (g.nx >= 3) fields.phi.data()[3] = 5;
        const field_norms got = measure_norms(fields, g.nx, params.dx);
        const double pairs[][2] = {
            {got.max_abs_phi, g.want.max_abs_phi},
            {got.l2_phi, g.want.l2_phi},
            {got.l2_psi, g.want.l2_psi},
            {got.l2_pi, g.want.l2_pi},
            {got.energy, g.want.energy},
            {got.l2_constraint, g.want.l2_constraint},
            {got.max_abs_constraint, g.want.max_abs_constraint},
        };
        for (const auto& [value, expected] : pairs) {
            if (std::isnan(expected)) {
                EXPECT_TRUE(std::isnan(value)) << g.what << ": " << value;
            } else {
                EXPECT_EQ(value, expected) << g.what;
            }
        }
    }
}

}  // namespace
