#include "evolution/boundary_conditions.hpp"

bool boundary_applies(std::int32_t boundtype, std::int32_t nx) {
    return (boundtype == boundary_periodic && nx >= periodic_min_nx) ||
           (boundtype == boundary_outgoing && nx >= outgoing_min_nx);
}

void apply_boundaries(FieldSet& f, std::int32_t boundtype, std::int32_t nx) {
    if (!boundary_applies(boundtype, nx)) return;
    const end_values ends = boundary_ends(boundtype, nx, end_values{}, [&](std::int32_t k) {
        return point_value{f.psi[k], f.pi[k]};
    });
    if (boundtype == boundary_periodic) {
        f.phi[0] = f.phi[periodic_source_of_first(nx)];
        f.phi[nx] = f.phi[periodic_source_of_last];
    } else {
        // The characteristic variables at every point, in the work arrays, with the values
        // that the condition gives them at its end.
        for (std::int32_t k = 0; k <= nx; ++k) {
            f.right[k] = right_going(f.psi[k], f.pi[k]);
        }
        for (std::int32_t k = 0; k <= nx; ++k) {
            f.left[k] = left_going(f.psi[k], f.pi[k]);
        }
        f.left[0] = ends.first.pi;
        f.right[nx] = ends.last.pi;
    }
    f.psi[0] = ends.first.psi;
    f.pi[0] = ends.first.pi;
    f.psi[nx] = ends.last.psi;
    f.pi[nx] = ends.last.pi;
}
