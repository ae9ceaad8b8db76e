#include "evolution/norms.hpp"

#include <cmath>
#include <cstddef>

#include "evolution/point_formulas.hpp"

namespace {

// The larger of largest and |value|; a NaN, once met, stays.
double larger_magnitude(double largest, double value) {
    const double magnitude = std::fabs(value);
    return magnitude > largest || magnitude != magnitude ? magnitude : largest;
}

}  // namespace

field_norms measure_norms(const FieldSet& fields, std::int32_t nx, double dx) {
    const double* phi = fields.phi.data();
    const double* psi = fields.psi.data();
    const double* pi = fields.pi.data();
    field_norms norms;
    for (std::size_t k = 0; k < fields.phi.size(); ++k) {
        norms.max_abs_phi = larger_magnitude(norms.max_abs_phi, phi[k]);
    }
    double phi_squares = 0, psi_squares = 0, pi_squares = 0, energy_sum = 0, constraint_squares = 0;
    for (std::int32_t i = 1; i < nx; ++i) {
        const double constraint = psi[i] - centred_difference(phi[i + 1], phi[i - 1], dx);
        phi_squares = phi_squares + phi[i] * phi[i];
        psi_squares = psi_squares + psi[i] * psi[i];
        pi_squares = pi_squares + pi[i] * pi[i];
        energy_sum = energy_sum + (pi[i] * pi[i] + psi[i] * psi[i]);
        constraint_squares = constraint_squares + constraint * constraint;
        norms.max_abs_constraint = larger_magnitude(norms.max_abs_constraint, constraint);
    }
    norms.l2_phi = std::sqrt(dx * phi_squares);
    norms.l2_psi = std::sqrt(dx * psi_squares);
    norms.l2_pi = std::sqrt(dx * pi_squares);
    norms.energy = 0.5 * dx * energy_sum;
    norms.l2_constraint = std::sqrt(dx * constraint_squares);
    return norms;
}
