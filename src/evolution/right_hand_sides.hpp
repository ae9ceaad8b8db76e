#pragma once

#include <cstdint>

#include "grid/field_set.hpp"

// The first-order wave system, with lapse alpha and shift beta fixed in time:
//   d(phi)/dt = alpha*pi + beta*psi
//   d(psi)/dt = d/dx (alpha*pi + beta*psi)
//   d(pi)/dt  = d/dx (alpha*psi + beta*pi)
// Spatial derivatives are second-order centred differences of each flux term:
//   rhs_psi(i) = (alpha(i+1)*pi(i+1)  - alpha(i-1)*pi(i-1))*0.5/dx
//              + (beta(i+1)*psi(i+1)  - beta(i-1)*psi(i-1))*0.5/dx
//   rhs_pi(i)  = (alpha(i+1)*psi(i+1) - alpha(i-1)*psi(i-1))*0.5/dx
//              + (beta(i+1)*pi(i+1)   - beta(i-1)*pi(i-1))*0.5/dx

// rhs_phi(k) = alpha(k)*pi(k) + beta(k)*psi(k) at every point 0..nx.
void compute_rhs_phi(FieldSet& fields);

// rhs_psi(i) and rhs_pi(i) at the interior points 1..nx-1; points 0 and nx are not written.
void compute_rhs_psi_pi(FieldSet& fields, std::int32_t nx, double dx);
