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
// icn_step is a single sweep over the grid that evaluates the three iterations together
// (icn_sweep.hpp), in the widest instruction set the processor has, on one thread; the program
// runs the same sweep as its step plan chooses (step_plan.hpp). icn_step_passes makes the passes
// one after another, exactly as described here; it is the reference that every way of running
// the sweep reproduces bit for bit.
void icn_step(FieldSet& fields, const RunParameters& params);
void icn_step_passes(FieldSet& fields, const RunParameters& params);

// The parts of icn_step_passes, in the order it runs them.

// phi_p = phi, psi_p = psi, pi_p = pi at every point.
void copy_state(FieldSet& fields);

// One iteration with step length h: rhs_phi from the current fields; the boundary conditions;
// rhs_psi and rhs_pi; then phi(k) = phi_p(k) + rhs_phi(k)*h at every point and
// psi(i) = psi_p(i) + rhs_psi(i)*h, pi(i) = pi_p(i) + rhs_pi(i)*h at the interior points.
void icn_iteration(FieldSet& fields, const RunParameters& params, double h);
