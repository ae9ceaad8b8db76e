#pragma once

#include "common/run_parameters.hpp"
#include "grid/field_set.hpp"

// One time step of length dt by iterated Crank-Nicolson with three iterations. Writing u for
// (phi, psi, pi), u0 for the state at the start of the step and F for the right-hand sides:
//   u1 = u0 + (dt*0.5)*F(u0)
//   u2 = u0 + (dt*0.5)*F(u1)
//   u  = u0 + dt*F(u2)
// with the boundary conditions applied in each iteration between rhs_phi and rhs_psi/rhs_pi.
// Allocates nothing.
//
// This is the step made of passes over the grid, one after another, exactly as written here: the
// reference that the program's fast step (src/sweep/) reproduces bit for bit.
void icn_step(FieldSet& fields, const RunParameters& params);

// The passes of icn_step, in the order it runs them.

// phi_p = phi, psi_p = psi, pi_p = pi at every point.
void copy_state(FieldSet& fields);

// One iteration with step length h: rhs_phi from the current fields; the boundary conditions;
// rhs_psi and rhs_pi; then phi(k) = phi_p(k) + rhs_phi(k)*h at every point and
// psi(i) = psi_p(i) + rhs_psi(i)*h, pi(i) = pi_p(i) + rhs_pi(i)*h at the interior points.
void icn_iteration(FieldSet& fields, const RunParameters& params, double h);
