#include "evolution/characteristic_speeds.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/test_fields.hpp"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(CharacteristicSpeeds, LargestOverThePointsLeavingOutNaN) {
    RunParameters params = grid_parameters(3, 0.0, 1.0, 0.5);
    FieldSet f = make_fields(params);
    assign(f.alpha, {1.0, 0.5, nan, 1.0});
    assign(f.beta, {0.2, -1.5, 7.0, nan});
    EXPECT_EQ(largest_characteristic_speed(f.alpha, f.beta), 2.0);
    assign(f.alpha, {nan, nan, nan, nan});
    EXPECT_EQ(largest_characteristic_speed(f.alpha, f.beta), 0.0);

    RunParameters none = grid_parameters(-1, 0.0, 1.0, 0.5);
    FieldSet empty = make_fields(none);
    EXPECT_EQ(largest_characteristic_speed(empty.alpha, empty.beta), 0.0);
}

TEST(CharacteristicSpeeds, TravelTogetherOnlyWhenTheShiftExceedsTheLapse) {
    EXPECT_TRUE(characteristics_travel_together(1.0, 1.2));
    EXPECT_TRUE(characteristics_travel_together(0.5, -10.0));
    EXPECT_FALSE(characteristics_travel_together(0.5, 0.5));
    EXPECT_FALSE(characteristics_travel_together(0.5, -0.5));
    EXPECT_FALSE(characteristics_travel_together(1.0, nan));
    EXPECT_FALSE(characteristics_travel_together(nan, 2.0));
}

}  // namespace
