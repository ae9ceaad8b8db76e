#include "evolution/norms.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "evolution/point_formulas.hpp"

namespace {

// The largest magnitude met so far, with whether a NaN was among the values: kept apart so that
// the loops need no branch.
struct largest_magnitude {
    double largest = 0;
    bool nan = false;
};

void include(largest_magnitude& m, double value) {
    const double magnitude = std::fabs(value);
    m.largest = std::max(m.largest, magnitude);
    m.nan = m.nan | (magnitude != magnitude);
}

double result(const largest_magnitude& m) {
    return m.nan ? std::numeric_limits<double>::quiet_NaN() : m.largest;
}

}  // namespace

field_norms measure_norms(const FieldSet& fields, std::int32_t nx, double dx) {
    const double* phi = fields.phi.data();
    const double* psi = fields.psi.data();
    const double* pi = fields.pi.data();
    largest_magnitude largest_phi, largest_constraint;
    for (std::size_t k = 0; k < fields.phi.size(); ++k) {
        include(largest_phi, phi[k]);
    }
    double phi_squares = 0, psi_squares = 0, pi_squares = 0, energy_sum = 0, constraint_squares = 0;
    for (std::int32_t i = 1; i < nx; ++i) {
        const double constraint = psi[i] - centred_difference(phi[i + 1], phi[i - 1], dx);
        phi_squares = phi_squares + phi[i] * phi[i];
        psi_squares = psi_squares + psi[i] * psi[i];
        pi_squares = pi_squares + pi[i] * pi[i];
        energy_sum = energy_sum + (pi[i] * pi[i] + psi[i] * psi[i]);
        constraint_squares = constraint_squares + constraint * constraint;
        include(largest_constraint, constraint);
    }
    field_norms norms;
    norms.max_abs_phi = result(largest_phi);
    norms.l2_phi = std::sqrt(dx * phi_squares);
    norms.l2_psi = std::sqrt(dx * psi_squares);
    norms.l2_pi = std::sqrt(dx * pi_squares);
    norms.energy = 0.5 * dx * energy_sum;
    norms.l2_constraint = std::sqrt(dx * constraint_squares);
    norms.max_abs_constraint = result(largest_constraint);
    return norms;
}
