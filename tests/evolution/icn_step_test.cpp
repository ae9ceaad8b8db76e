#include "evolution/icn_step.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "grid/initial_data.hpp"
#include "support/test_fields.hpp"

namespace {

using values = std::vector<double>;

values points(const GridFunction& f) {
    return values(f.data(), f.data() + f.size());
}

struct run {
    RunParameters params;
    FieldSet f;
    run(std::int32_t nx, double dx, double dt, std::int32_t boundtype) {
        params = grid_parameters(nx, 0.0, dx * nx, 1.0);
        f = make_fields(params);
        params.dx = dx;
        params.dt = dt;
        params.boundtype = boundtype;
    }
};

// One whole step on nx = 4, dx = 0.5, dt = 0.25, outgoing boundaries, alpha = 1, beta = 0,
// phi = psi = 0 and pi = 1: every value of every iteration is exact in double precision.
TEST(IcnStep, WorkedExampleIterationByIteration) {
    run r(4, 0.5, 0.25, 2);
    fill(r.f.alpha, 1.0);
    fill(r.f.pi, 1.0);
    copy_state(r.f);

    icn_iteration(r.f, r.params, 0.125);
    EXPECT_EQ(points(r.f.phi), (values{1. / 8, 1. / 8, 1. / 8, 1. / 8, 1. / 8}));
    EXPECT_EQ(points(r.f.psi), (values{1. / 2, 1. / 16, 0, -1. / 16, -1. / 2}));
    EXPECT_EQ(points(r.f.pi), (values{1. / 2, 15. / 16, 1, 15. / 16, 1. / 2}));

    icn_iteration(r.f, r.params, 0.125);
    EXPECT_EQ(points(r.f.phi), (values{1. / 16, 15. / 128, 1. / 8, 15. / 128, 1. / 16}));
    EXPECT_EQ(points(r.f.psi), (values{7. / 16, 9. / 128, 0, -9. / 128, -7. / 16}));
    EXPECT_EQ(points(r.f.pi), (values{7. / 16, 121. / 128, 63. / 64, 121. / 128, 7. / 16}));

    icn_iteration(r.f, r.params, 0.25);
    const values phi3{7. / 64, 121. / 512, 63. / 256, 121. / 512, 7. / 64};
    const values psi3{31. / 64, 1. / 8, 0, -1. / 8, -31. / 64};
    const values pi3{31. / 64, 225. / 256, 247. / 256, 225. / 256, 31. / 64};
    EXPECT_EQ(points(r.f.phi), phi3);
    EXPECT_EQ(points(r.f.psi), psi3);
    EXPECT_EQ(points(r.f.pi), pi3);

    run whole(4, 0.5, 0.25, 2);
    fill(whole.f.alpha, 1.0);
    fill(whole.f.pi, 1.0);
    icn_step(whole.f, whole.params);
    EXPECT_EQ(points(whole.f.phi), phi3);
    EXPECT_EQ(points(whole.f.psi), psi3);
    EXPECT_EQ(points(whole.f.pi), pi3);
    EXPECT_EQ(whole.f.pi[0] - whole.f.psi[0], 0.0);
    EXPECT_EQ(whole.f.pi[4] + whole.f.psi[4], 0.0);
}

TEST(IcnStep, IterationsRestartFromTheCopiesInsteadOfAccumulating) {
    for (std::int32_t boundtype : {0, 1}) {
        run r(6, 0.5, 0.125, boundtype);
        fill(r.f.alpha, 1.0);
        fill(r.f.pi, 1.0);
        for (std::int32_t k = 0; k <= 6; ++k)
            r.f.phi[k] = 0.25 * k;
        icn_step(r.f, r.params);
        for (std::int32_t k = 0; k <= 6; ++k) {
            EXPECT_EQ(r.f.phi[k], 0.25 * k + 0.125) << "boundtype " << boundtype;
            EXPECT_EQ(r.f.psi[k], 0.0);
            EXPECT_EQ(r.f.pi[k], 1.0);
        }
    }
}

TEST(IcnStep, WithoutBoundaryTreatmentTheEndPointsOfPsiAndPiNeverChange) {
    run r(5, 0.5, 0.2, 0);
    fill(r.f.alpha, 1.0);
    fill(r.f.beta, 0.5);
    assign(r.f.psi, {3, 1, 2, 0, 1, -2});
    assign(r.f.pi, {-1, 0, 1, 2, 0, 4});
    for (int step = 0; step < 5; ++step) {
        const double phi0 = r.f.phi[0];
        const double phi5 = r.f.phi[5];
        icn_step(r.f, r.params);
        EXPECT_EQ(r.f.phi[0], phi0 + (1.0 * -1 + 0.5 * 3) * 0.2);
        EXPECT_EQ(r.f.phi[5], phi5 + (1.0 * 4 + 0.5 * -2) * 0.2);
    }
    EXPECT_EQ(r.f.psi[0], 3.0);
    EXPECT_EQ(r.f.pi[0], -1.0);
    EXPECT_EQ(r.f.psi[5], -2.0);
    EXPECT_EQ(r.f.pi[5], 4.0);
}

TEST(IcnStep, ZeroStaysZeroAndZeroTimeStepKeepsTheInterior) {
    for (std::int32_t boundtype : {0, 1, 2, 3}) {
        run zero(9, 0.5, 0.25, boundtype);
        fill(zero.f.alpha, 0.75);
        fill(zero.f.beta, 1.2);
        icn_step(zero.f, zero.params);
        for (const GridFunction* g : {&zero.f.phi, &zero.f.psi, &zero.f.pi}) {
            for (double v : points(*g))
                EXPECT_EQ(v, 0.0);
        }

        run still(9, 0.5, 0.0, boundtype);
        fill(still.f.alpha, 1.0);
        for (std::int32_t k = 0; k <= 9; ++k) {
            still.f.phi[k] = k;
            still.f.psi[k] = 0.5 * k;
            still.f.pi[k] = 10 - k;
        }
        icn_step(still.f, still.params);
        for (std::int32_t k = 0; k <= 9; ++k)
            EXPECT_EQ(still.f.phi[k], k);
        for (std::int32_t i = 1; i <= 8; ++i) {
            EXPECT_EQ(still.f.psi[i], 0.5 * i);
            EXPECT_EQ(still.f.pi[i], 10 - i);
        }
    }
}

// In the first iteration rhs_phi sees the end points as they stood before the step, even
// though the boundary conditions of that iteration then change them.
TEST(IcnStep, RhsPhiSeesTheEndPointsBeforeThisIterationsBoundaries) {
    run r(4, 0.5, 0.25, 2);
    fill(r.f.alpha, 1.0);
    fill(r.f.pi, 1.0);
    r.f.pi[0] = 5.0;
    copy_state(r.f);
    icn_iteration(r.f, r.params, 0.125);
    EXPECT_EQ(r.f.phi[0], 5.0 * 0.125);
    EXPECT_EQ(r.f.pi[0], 0.5) << "then the boundary replaced pi(0)";
}

TEST(IcnStep, GridsTooSmallForTheirBoundaryStillStep) {
    for (std::int32_t boundtype : {0, 1, 2, 5}) {
        for (std::int32_t nx = -1; nx <= 3; ++nx) {
            run r(nx, 0.5, 0.25, boundtype);
            fill(r.f.alpha, 1.0);
            fill(r.f.pi, 2.0);
            fill(r.f.psi, 1.0);
            icn_step(r.f, r.params);
            for (std::int32_t k = 0; k <= nx; ++k)
                EXPECT_TRUE(std::isfinite(r.f.phi[k]));
            if (nx <= 1 && boundtype != 1 && boundtype != 2) {
                for (std::int32_t k = 0; k <= nx; ++k)
                    EXPECT_EQ(r.f.phi[k], 2.0 * 0.25);
            }
        }
    }
}

// With alpha = 1 and a constant shift beta, a gaussian f with pi = 0 evolves as
// phi(x, t) = [f(x + (beta+1)t) + f(x + (beta-1)t)] / 2. Halving dx (with dt) must cut the
// error by about four: the scheme is second order.
double max_error(double beta, std::int32_t nx) {
    RunParameters p = grid_parameters(nx, -16.0, 16.0, 0.5);
    p.amplitude = 1.0;
    p.width = 1.0;
    p.center = 0.0;
    p.lapsetype = 0;
    p.shifttype = beta == 0.0 ? 0 : (beta == 0.5 ? 1 : 2);
    p.boundtype = 2;
    FieldSet f = make_fields(p);
    set_initial_data(p, f);
    const double t_end = 2.0;
    const std::int32_t nt = static_cast<std::int32_t>(t_end / p.dt);
    for (std::int32_t n = 0; n < nt; ++n)
        icn_step(f, p);
    auto gaussian = [](double x) { return std::exp(-(x * x)); };
    double error = 0.0;
    for (std::int32_t i = 0; i <= nx; ++i) {
        const double x = f.x[i];
        const double exact =
            (gaussian(x + (beta + 1) * t_end) + gaussian(x + (beta - 1) * t_end)) / 2;
        error = std::max(error, std::fabs(f.phi[i] - exact));
    }
    return error;
}

TEST(IcnStep, ConvergesAtSecondOrderToTheExactSolution) {
    for (double beta : {0.0, 0.5, 1.0}) {
        const double coarse = max_error(beta, 256);
        const double middle = max_error(beta, 512);
        const double fine = max_error(beta, 1024);
        EXPECT_LT(coarse, 0.05) << "beta " << beta;
        EXPECT_NEAR(coarse / middle, 4.0, 0.4) << "beta " << beta;
        EXPECT_NEAR(middle / fine, 4.0, 0.2) << "beta " << beta;
    }
}

}  // namespace
