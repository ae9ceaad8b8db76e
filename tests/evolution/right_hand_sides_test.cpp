#include "evolution/right_hand_sides.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "support/test_fields.hpp"

namespace {

struct grid {
    RunParameters params;
    FieldSet f;
    explicit grid(std::int32_t nx, double dx = 0.5) {
        params = grid_parameters(nx, 0.0, dx * nx, 1.0);
        f = make_fields(params);
        params.dx = dx;
    }
};

TEST(RightHandSides, PlainWaveOnALinearTimeDerivative) {
    // alpha = 1, beta = 0, psi = 0, pi(k) = k, dx = 0.5.
    grid g(6);
    fill(g.f.alpha, 1.0);
    for (std::int32_t k = 0; k <= 6; ++k)
        g.f.pi[k] = k;
    fill(g.f.rhs_psi, 99.0);
    fill(g.f.rhs_pi, 99.0);
    compute_rhs_phi(g.f);
    compute_rhs_psi_pi(g.f, 6, g.params.dx);
    for (std::int32_t k = 0; k <= 6; ++k)
        EXPECT_EQ(g.f.rhs_phi[k], k);
    for (std::int32_t i = 1; i <= 5; ++i) {
        EXPECT_EQ(g.f.rhs_psi[i], 2.0);
        EXPECT_EQ(g.f.rhs_pi[i], 0.0);
    }
    // The end points of rhs_psi and rhs_pi are never written.
    EXPECT_EQ(g.f.rhs_psi[0], 99.0);
    EXPECT_EQ(g.f.rhs_psi[6], 99.0);
    EXPECT_EQ(g.f.rhs_pi[0], 99.0);
    EXPECT_EQ(g.f.rhs_pi[6], 99.0);
}

TEST(RightHandSides, PureShiftExchangesTheRolesOfTheFields) {
    grid g(5, 0.25);
    fill(g.f.beta, 1.0);
    assign(g.f.psi, {1, 4, 9, 16, 25, 36});
    assign(g.f.pi, {0, -1, 3, -2, 5, 7});
    compute_rhs_phi(g.f);
    compute_rhs_psi_pi(g.f, 5, 0.25);
    for (std::int32_t k = 0; k <= 5; ++k)
        EXPECT_EQ(g.f.rhs_phi[k], g.f.psi[k]);
    for (std::int32_t i = 1; i <= 4; ++i) {
        EXPECT_EQ(g.f.rhs_psi[i], (g.f.psi[i + 1] - g.f.psi[i - 1]) * 0.5 / 0.25);
        EXPECT_EQ(g.f.rhs_pi[i], (g.f.pi[i + 1] - g.f.pi[i - 1]) * 0.5 / 0.25);
    }
}

TEST(RightHandSides, AnEndPointReachesOnlyItsNeighbour) {
    grid a(6);
    grid b(6);
    for (grid* g : {&a, &b}) {
        assign(g->f.alpha, {1.5, 0.5, 2, 1, 3, 0.25, 1});
        assign(g->f.beta, {0.5, 2, 1, -1, 0.5, 1, 2});
        assign(g->f.psi, {1, 2, 3, 4, 5, 6, 7});
        assign(g->f.pi, {7, 6, 5, 4, 3, 2, 1});
    }
    b.f.psi[0] = -100.0;
    for (grid* g : {&a, &b}) {
        compute_rhs_phi(g->f);
        compute_rhs_psi_pi(g->f, 6, 0.5);
    }
    EXPECT_NE(a.f.rhs_phi[0], b.f.rhs_phi[0]);
    EXPECT_NE(a.f.rhs_psi[1], b.f.rhs_psi[1]);
    EXPECT_NE(a.f.rhs_pi[1], b.f.rhs_pi[1]);
    for (std::int32_t k = 1; k <= 6; ++k)
        EXPECT_EQ(a.f.rhs_phi[k], b.f.rhs_phi[k]);
    for (std::int32_t i = 2; i <= 5; ++i) {
        EXPECT_EQ(a.f.rhs_psi[i], b.f.rhs_psi[i]);
        EXPECT_EQ(a.f.rhs_pi[i], b.f.rhs_pi[i]);
    }
}

TEST(RightHandSides, GridsWithoutInteriorPoints) {
    for (std::int32_t nx : {-3, -1, 0, 1}) {
        grid g(nx);
        fill(g.f.alpha, 1.0);
        fill(g.f.pi, 2.0);
        fill(g.f.rhs_psi, 7.0);
        compute_rhs_phi(g.f);
        compute_rhs_psi_pi(g.f, nx, 0.5);
        for (std::int32_t k = 0; k <= nx; ++k) {
            EXPECT_EQ(g.f.rhs_phi[k], 2.0);
            EXPECT_EQ(g.f.rhs_psi[k], 7.0);
        }
    }
}

// a*b + c with a*b = 1 - 2^-60 exactly: rounding the product first gives 1 + c; a fused
// multiply-add keeps the 2^-60. A build that contracts the formulas fails here.
TEST(RightHandSides, ProductsAreRoundedBeforeTheyAreAdded) {
    const double a = 1.0 + std::ldexp(1.0, -30);
    const double b = 1.0 - std::ldexp(1.0, -30);
    grid g(2, 1.0);
    assign(g.f.alpha, {a, 1.0, a});
    assign(g.f.pi, {b, 1.0, b});
    fill(g.f.beta, -1.0);
    fill(g.f.psi, 1.0);
    compute_rhs_phi(g.f);
    EXPECT_EQ(g.f.rhs_phi[0], 0.0);
    assign(g.f.alpha, {1.0, 0.0, a});
    assign(g.f.pi, {1.0, 0.0, b});
    fill(g.f.beta, 0.0);
    compute_rhs_psi_pi(g.f, 2, 1.0);
    EXPECT_EQ(g.f.rhs_psi[1], 0.0);
}

TEST(RightHandSides, ZeroSpacingGivesNonFiniteValuesWithoutComplaint) {
    grid g(3, 0.0);
    fill(g.f.alpha, 1.0);
    fill(g.f.beta, 1.0);
    assign(g.f.pi, {0, 1, 2, 1});
    assign(g.f.psi, {0, 1, 2, 3});
    compute_rhs_psi_pi(g.f, 3, 0.0);
    EXPECT_EQ(g.f.rhs_psi[1], std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(g.f.rhs_pi[2])) << "infinity plus 0/0";
}

}  // namespace
