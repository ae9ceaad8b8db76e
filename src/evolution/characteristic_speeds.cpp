#include "evolution/characteristic_speeds.hpp"

#include <cmath>
#include <cstddef>

double largest_characteristic_speed(const GridFunction& alpha, const GridFunction& beta) {
    double largest = 0.0;
    for (std::size_t k = 0; k < alpha.size(); ++k) {
        const double a = alpha.data()[k];
        const double b = beta.data()[k];
        const double speed = std::fmax(std::fabs(a - b), std::fabs(a + b));
        // A NaN speed never compares greater, so it is left out.
        if (speed > largest) largest = speed;
    }
    return largest;
}

bool characteristics_travel_together(double alpha, double beta) {
    return std::fabs(beta) > alpha;
}
