#include "evolution/icn_step.hpp"

#include <cstddef>
#include <cstdint>

#include "evolution/boundary_conditions.hpp"
#include "evolution/point_formulas.hpp"
#include "evolution/right_hand_sides.hpp"

namespace {

void copy_values(const GridFunction& from, GridFunction& to) {
    const std::size_t n = from.size();
    for (std::size_t k = 0; k < n; ++k) {
        to.data()[k] = from.data()[k];
    }
}

}  // namespace

void copy_state(FieldSet& fields) {
    copy_values(fields.phi, fields.phi_p);
    copy_values(fields.psi, fields.psi_p);
    copy_values(fields.pi, fields.pi_p);
}

void icn_iteration(FieldSet& fields, const RunParameters& params, double h) {
    const std::int32_t nx = params.nx;
    compute_rhs_phi(fields);
    apply_boundaries(fields, params.boundtype, nx);
    compute_rhs_psi_pi(fields, nx, params.dx);

    for (std::int32_t k = 0; k <= nx; ++k) {
        fields.phi[k] = advance(fields.phi_p[k], fields.rhs_phi[k], h);
    }
    // The end points of psi and pi belong to the boundary conditions.
    for (std::int32_t i = 1; i < nx; ++i) {
        fields.psi[i] = advance(fields.psi_p[i], fields.rhs_psi[i], h);
        fields.pi[i] = advance(fields.pi_p[i], fields.rhs_pi[i], h);
    }
}

void icn_step(FieldSet& fields, const RunParameters& params) {
    copy_state(fields);
    // Every iteration starts again from the copies; only the right-hand sides change.
    icn_iteration(fields, params, params.dt * 0.5);
    icn_iteration(fields, params, params.dt * 0.5);
    icn_iteration(fields, params, params.dt);
}
