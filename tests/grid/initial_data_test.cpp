#include "grid/initial_data.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "grid/grid.hpp"
#include "support/test_fields.hpp"

namespace {

struct initial_state {
    RunParameters params;
    FieldSet fields;
};

initial_state initial(std::int32_t nx, double xmin, double xmax, double amplitude, double width,
                      double center, std::int32_t lapsetype, std::int32_t shifttype) {
    initial_state s;
    s.params = grid_parameters(nx, xmin, xmax, 0.5);
    s.params.amplitude = amplitude;
    s.params.width = width;
    s.params.center = center;
    s.params.lapsetype = lapsetype;
    s.params.shifttype = shifttype;
    s.fields = create_grid(s.params);
    set_initial_data(s.params, s.fields);
    return s;
}

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(InitialData, GaussianAndItsExactDerivative) {
    // x = -1, -0.5, 0, 0.5, 1; the pulse of width 0.5 centred at 0.5.
    const auto s = initial(4, -1.0, 1.0, 2.0, 0.5, 0.5, 0, 0);
    const FieldSet& f = s.fields;
    // On the centre: phi = amplitude, psi = 0 (negative zero: -((0*2)/w2)).
    EXPECT_EQ(f.phi[3], 2.0);
    EXPECT_EQ(f.psi[3], 0.0);
    // One width away: d*d/w2 = 1, phi = 2*exp(-1), psi = -((2*d)*phi/w2).
    EXPECT_EQ(f.phi[2], 2.0 * std::exp(-1.0));
    EXPECT_EQ(f.psi[2], -((-1.0 * f.phi[2]) / 0.25));
    EXPECT_GT(f.psi[2], 0.0) << "rising edge has a positive slope";
    EXPECT_LT(f.psi[4], 0.0) << "falling edge has a negative slope";
    for (std::int32_t i = 0; i <= 4; ++i) {
        EXPECT_TRUE(same_bits(f.pi[i], 0.0)) << "pi is positive zero";
    }
}

TEST(InitialData, OnlyTheSquareOfTheWidthMatters) {
    const auto pos = initial(8, -1.0, 1.0, 1.0, 0.3, 0.1, 0, 0);
    const auto neg = initial(8, -1.0, 1.0, 1.0, -0.3, 0.1, 0, 0);
    for (std::int32_t i = 0; i <= 8; ++i) {
        EXPECT_TRUE(same_bits(pos.fields.phi[i], neg.fields.phi[i]));
        EXPECT_TRUE(same_bits(pos.fields.psi[i], neg.fields.psi[i]));
    }
}

TEST(InitialData, ZeroWidthAndZeroAmplitudeFollowIeeeRules) {
    const auto narrow = initial(4, -1.0, 1.0, 1.0, 0.0, 0.0, 0, 0);
    for (std::int32_t i = 0; i <= 4; ++i) {
        EXPECT_TRUE(std::isnan(narrow.fields.psi[i]));
        if (i == 2) {
            EXPECT_TRUE(std::isnan(narrow.fields.phi[i]));
        } else {
            EXPECT_EQ(narrow.fields.phi[i], 0.0);
        }
    }
    const auto flat = initial(4, -1.0, 1.0, 0.0, 0.5, 0.0, 0, 0);
    for (std::int32_t i = 0; i <= 4; ++i) {
        EXPECT_EQ(flat.fields.phi[i], 0.0);
        EXPECT_EQ(flat.fields.psi[i], 0.0);
    }
}

TEST(InitialData, LapseIsOneOrTheTanhStepCentredAtZero) {
    const auto constant = initial(4, -1.0, 1.0, 1.0, 0.5, 0.0, 0, 0);
    for (std::int32_t i = 0; i <= 4; ++i)
        EXPECT_EQ(constant.fields.alpha[i], 1.0);

    for (std::int32_t type : {1, 2, -1}) {
        const auto step = initial(20, -1.0, 1.0, 1.0, 0.5, 0.7, type, 0);
        const FieldSet& f = step.fields;
        EXPECT_EQ(f.alpha[10], 0.75) << "x = 0";
        // x(11) = 0.1: alpha = 0.25*tanh(1.0000000000000002) + 0.75.
        EXPECT_EQ(f.alpha[11], 0.25 * std::tanh(10.0 * f.x[11]) + 0.75);
        EXPECT_NEAR(f.alpha[11], 0.94, 0.01);
        EXPECT_NEAR(f.alpha[9], 0.56, 0.01);
        EXPECT_NEAR(f.alpha[0], 0.5, 1e-8);
        EXPECT_NEAR(f.alpha[20], 1.0, 1e-8);
    }
}

TEST(InitialData, ShiftTypesAndTheZeroShiftOutsideThem) {
    const double expected[] = {0.0, 0.5, 1.0, 1.2};
    for (std::int32_t type = 0; type <= 3; ++type) {
        const auto s = initial(6, -3.0, 3.0, 1.0, 0.5, 0.0, 0, type);
        for (std::int32_t i = 0; i <= 6; ++i)
            EXPECT_EQ(s.fields.beta[i], expected[type]);
    }
    const auto copy = initial(7, -0.3, 2.9, 1.0, 0.5, 0.0, 0, 4);
    for (std::int32_t i = 0; i <= 7; ++i) {
        EXPECT_TRUE(same_bits(copy.fields.beta[i], copy.fields.x[i]));
    }
    for (std::int32_t type : {5, -1, 2147483647}) {
        const auto other = initial(5, -1.0, 1.0, 1.0, 0.5, 0.0, 0, type);
        for (std::int32_t i = 0; i <= 5; ++i) {
            EXPECT_TRUE(same_bits(other.fields.beta[i], 0.0)) << "shifttype " << type;
        }
    }
}

TEST(InitialData, EmptyGridWritesNothing) {
    const auto s = initial(-3, -1.0, 1.0, 1.0, 0.5, 0.0, 1, 4);
    EXPECT_EQ(s.fields.phi.size(), 0u);
}

}  // namespace
