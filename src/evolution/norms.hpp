#pragma once

#include <cstdint>

#include "common/field_norms.hpp"
#include "grid/field_set.hpp"

// The norms that watch a run: its size, its energy and the constraint psi = d(phi)/dx of the
// first-order form. Over the interior points i = 1 .. nx-1, with the constraint
//   C(i) = psi(i) - (phi(i+1) - phi(i-1))*0.5/dx
// (the centred difference of the right-hand sides):
//   max_abs_phi        = the largest |phi(k)| over every point k = 0 .. nx
//   l2_phi             = sqrt(dx * sum of phi(i)*phi(i)), l2_psi and l2_pi alike
//   energy             = (0.5*dx) * sum of (pi(i)*pi(i) + psi(i)*psi(i))
//   l2_constraint      = sqrt(dx * sum of C(i)*C(i))
//   max_abs_constraint = the largest |C(i)|
// Each sum runs in increasing i on one thread, so a run gives the same doubles however its
// steps are made. A sum or a largest value over no point is 0. A NaN among the values makes the
// largest value NaN; otherwise infinities and NaN flow through the sums as IEEE arithmetic
// gives. Reads phi, psi and pi only, allocates nothing.
field_norms measure_norms(const FieldSet& fields, std::int32_t nx, double dx);
