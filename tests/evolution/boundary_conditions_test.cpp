#include "evolution/boundary_conditions.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_fields.hpp"

namespace {

struct grid {
    RunParameters params;
    FieldSet f;
    explicit grid(std::int32_t nx) {
        params = grid_parameters(nx, 0.0, 1.0, 1.0);
        f = make_fields(params);
        for (std::int32_t k = 0; k <= nx; ++k) {
            f.phi[k] = 100 + k;
            f.psi[k] = 200 + k;
            f.pi[k] = 300 + k;
        }
    }
    std::vector<double> state() const {
        std::vector<double> s;
        for (const GridFunction* g : {&f.phi, &f.psi, &f.pi}) {
            s.insert(s.end(), g->data(), g->data() + g->size());
        }
        return s;
    }
};

TEST(PeriodicBoundary, EndPointsTakePointsNxMinusTwoAndTwo) {
    grid g(10);
    apply_boundaries(g.f, 1, 10);
    EXPECT_EQ(g.f.phi[0], 108);
    EXPECT_EQ(g.f.psi[0], 208);
    EXPECT_EQ(g.f.pi[0], 308);
    EXPECT_EQ(g.f.phi[10], 102);
    EXPECT_EQ(g.f.psi[10], 202);
    EXPECT_EQ(g.f.pi[10], 302);
    EXPECT_EQ(g.f.phi[1], 101);
    EXPECT_EQ(g.f.phi[9], 109);

    grid four(4);
    apply_boundaries(four.f, 1, 4);
    EXPECT_EQ(four.f.pi[0], 302);
    EXPECT_EQ(four.f.pi[4], 302);

    grid two(2);
    const auto before = two.state();
    apply_boundaries(two.f, 1, 2);
    EXPECT_EQ(two.state(), before) << "each end point is copied onto itself";
}

TEST(OutgoingBoundary, ConstantInteriorGivesHalfOfItAtBothEnds) {
    grid g(7);
    fill(g.f.psi, 0.0);
    fill(g.f.pi, 6.0);
    g.f.pi[0] = -40;
    g.f.psi[0] = 13;
    g.f.pi[7] = 55;
    g.f.psi[7] = -1;
    apply_boundaries(g.f, 2, 7);
    EXPECT_EQ(g.f.pi[0], 3.0);
    EXPECT_EQ(g.f.psi[0], 3.0);
    EXPECT_EQ(g.f.pi[7], 3.0);
    EXPECT_EQ(g.f.psi[7], -3.0);
    for (std::int32_t k = 0; k <= 7; ++k)
        EXPECT_EQ(g.f.phi[k], 100 + k) << "phi untouched";
    for (std::int32_t k = 1; k <= 6; ++k)
        EXPECT_EQ(g.f.pi[k], 6.0);
}

TEST(OutgoingBoundary, ExtrapolatesQuadraticsExactly) {
    grid g(6);
    // pi + psi = 2, 8, 18 at points 1..3, so left = 1, 4, 9 there and its parabola gives 0.
    assign(g.f.pi, {5, 1, 4, 9, 0, 0, 0});
    assign(g.f.psi, {5, 1, 4, 9, 0, 0, 0});
    // pi - psi = 18, 8, 2 at points 3, 4, 5 (pi + psi stays 18 at point 3), so the parabola
    // through right(5), right(4), right(3) = 1, 4, 9 gives right(nx) = 0 too.
    g.f.pi[3] = 18;
    g.f.psi[3] = 0;
    g.f.pi[4] = 4;
    g.f.psi[4] = -4;
    g.f.pi[5] = 2;
    g.f.psi[5] = 0;
    apply_boundaries(g.f, 2, 6);
    EXPECT_EQ(g.f.pi[0], 0.0);
    EXPECT_EQ(g.f.psi[0], 0.0);
    EXPECT_EQ(g.f.pi[6], 0.0);
    EXPECT_EQ(g.f.psi[6], 0.0);

    grid line(5);
    assign(line.f.pi, {0, 2, 3, 4, 0, 0});
    assign(line.f.psi, {0, 2, 3, 4, 0, 0});
    apply_boundaries(line.f, 2, 5);
    EXPECT_EQ(line.f.pi[0], 1.0);
    EXPECT_EQ(line.f.psi[0], 1.0);
}

TEST(OutgoingBoundary, IncomingCharacteristicsVanishExactly) {
    grid g(9);
    for (std::int32_t k = 0; k <= 9; ++k) {
        g.f.psi[k] = 0.1 * k * k - 0.37;
        g.f.pi[k] = 1.0 / (k + 3.0);
    }
    apply_boundaries(g.f, 2, 9);
    EXPECT_EQ(g.f.pi[0] - g.f.psi[0], 0.0);
    EXPECT_EQ(g.f.pi[9] + g.f.psi[9], 0.0);
    EXPECT_EQ(g.f.left[4], (g.f.pi[4] + g.f.psi[4]) * 0.5);
    EXPECT_EQ(g.f.right[4], (g.f.pi[4] - g.f.psi[4]) * 0.5);
}

TEST(Boundaries, OtherTypesAndTooSmallGridsChangeNothing) {
    for (std::int32_t type : {0, 3, -1, 2147483647}) {
        grid g(8);
        const auto before = g.state();
        apply_boundaries(g.f, type, 8);
        EXPECT_EQ(g.state(), before) << "boundtype " << type;
    }
    for (std::int32_t type : {1, 2}) {
        for (std::int32_t nx = -2; nx < (type == 1 ? 2 : 3); ++nx) {
            grid g(nx);
            const auto before = g.state();
            apply_boundaries(g.f, type, nx);
            EXPECT_EQ(g.state(), before) << "boundtype " << type << ", nx " << nx;
            EXPECT_FALSE(boundary_applies(type, nx));
        }
    }
    EXPECT_TRUE(boundary_applies(1, 2));
    EXPECT_TRUE(boundary_applies(2, 3));
}

}  // namespace
