#include "evolution/boundary_conditions.hpp"

#include "evolution/point_formulas.hpp"

namespace {

void apply_periodic(FieldSet& f, std::int32_t nx) {
    f.phi[0] = f.phi[nx - 2];
    f.psi[0] = f.psi[nx - 2];
    f.pi[0] = f.pi[nx - 2];
    f.phi[nx] = f.phi[2];
    f.psi[nx] = f.psi[2];
    f.pi[nx] = f.pi[2];
}

void apply_outgoing(FieldSet& f, std::int32_t nx) {
    for (std::int32_t k = 0; k <= nx; ++k) {
        f.right[k] = right_going(f.pi[k], f.psi[k]);
    }
    for (std::int32_t k = 0; k <= nx; ++k) {
        f.left[k] = left_going(f.pi[k], f.psi[k]);
    }
    f.left[0] = parabola_end(f.left[1], f.left[2], f.left[3]);
    f.right[nx] = parabola_end(f.right[nx - 1], f.right[nx - 2], f.right[nx - 3]);
    f.pi[0] = f.left[0];
    f.psi[0] = f.left[0];
    f.pi[nx] = f.right[nx];
    f.psi[nx] = -f.right[nx];
}

}  // namespace

bool boundary_applies(std::int32_t boundtype, std::int32_t nx) {
    return (boundtype == boundary_periodic && nx >= periodic_min_nx) ||
           (boundtype == boundary_outgoing && nx >= outgoing_min_nx);
}

void apply_boundaries(FieldSet& fields, std::int32_t boundtype, std::int32_t nx) {
    if (!boundary_applies(boundtype, nx)) return;
    if (boundtype == boundary_periodic) {
        apply_periodic(fields, nx);
    } else {
        apply_outgoing(fields, nx);
    }
}
