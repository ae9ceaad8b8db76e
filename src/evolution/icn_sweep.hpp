#pragma once

#include "common/run_parameters.hpp"
#include "grid/field_set.hpp"

// The time step as one sweep over the grid. The three iterations of the step run together, each
// behind the one before by a block of points and one point more, which is exactly what the
// centred differences need of the iteration before: iteration 3 is then final at the points it
// reaches and overwrites phi, psi and pi in place. The intermediate fields of iterations 1 and 2
// are carried in registers as the fluxes alpha*pi, beta*psi, alpha*psi and beta*pi, formed once
// per point. Each step reads phi, psi, pi, alpha and beta once and writes phi, psi and pi once,
// where the passes make about eighty trips over the grid.
//
// The periodic condition makes the left end of iteration j depend on the right end of
// iteration j-1, so the two end regions (a few points each, and the whole grid when it is
// small) are evaluated first, iteration by iteration with the boundary conditions between, in
// the scratch arrays of the FieldSet at their own point indices; the sweep then fills the
// middle. The results are those of icn_step_passes, bit for bit, for every nx and boundtype.
// Allocates nothing.

// The instruction sets the middle of the sweep can run in: 2, 4 or 8 points at a time. All of
// them give the same doubles; icn_step takes the widest that the processor supports.
enum class sweep_isa { sse2, avx2, avx512 };

bool sweep_isa_supported(sweep_isa isa);
sweep_isa widest_sweep_isa();

// One time step, as icn_step_passes computes it, with the middle of the sweep in the given
// instruction set (in the widest supported one when the processor lacks it).
void icn_step_sweep(FieldSet& fields, const RunParameters& params, sweep_isa isa);
