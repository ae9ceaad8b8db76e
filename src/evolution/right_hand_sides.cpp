#include "evolution/right_hand_sides.hpp"

#include <cstddef>

#include "evolution/point_formulas.hpp"

void compute_rhs_phi(FieldSet& fields) {
    const double* alpha = fields.alpha.data();
    const double* beta = fields.beta.data();
    const double* psi = fields.psi.data();
    const double* pi = fields.pi.data();
    double* rhs_phi = fields.rhs_phi.data();
    const std::size_t n = fields.rhs_phi.size();
    for (std::size_t k = 0; k < n; ++k) {
        rhs_phi[k] = rhs_phi_at(alpha[k], beta[k], psi[k], pi[k]);
    }
}

void compute_rhs_psi_pi(FieldSet& fields, std::int32_t nx, double dx) {
    const double* alpha = fields.alpha.data();
    const double* beta = fields.beta.data();
    const double* psi = fields.psi.data();
    const double* pi = fields.pi.data();
    double* rhs_psi = fields.rhs_psi.data();
    double* rhs_pi = fields.rhs_pi.data();
    for (std::int32_t i = 1; i < nx; ++i) {
        rhs_psi[i] = rhs_psi_at(alpha[i - 1], beta[i - 1], psi[i - 1], pi[i - 1], alpha[i + 1],
                                beta[i + 1], psi[i + 1], pi[i + 1], dx);
        rhs_pi[i] = rhs_pi_at(alpha[i - 1], beta[i - 1], psi[i - 1], pi[i - 1], alpha[i + 1],
                              beta[i + 1], psi[i + 1], pi[i + 1], dx);
    }
}
