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

// How the middle divides by dx: with the divider instruction, or partly exactly without it by
// multiply-adds (point_formulas.hpp; the divisions of the first iteration, so that the divider
// and the vector pipes share the work), falling back to the divider for any vector of
// numerators outside the range where that is exact. The multiply-adds need AVX2 with FMA, or
// AVX-512; SSE2 always divides. Both give the same doubles.
enum class sweep_division { divider, multiply_add };

struct sweep_method {
    sweep_isa isa = sweep_isa::sse2;
    sweep_division division = sweep_division::divider;
};

bool sweep_isa_supported(sweep_isa isa);
sweep_isa widest_sweep_isa();
bool sweep_method_supported(const sweep_method& method);
// The widest instruction set, with the exact division where it has it.
sweep_method fastest_sweep_method();

// How the parts of a split middle are run: one after another, first to last or last to first,
// or each on its own thread (OpenMP; one after another in a build without it).
enum class part_order { in_order, reverse, threads };

// One time step, as icn_step_passes computes it, with the middle of the sweep in the given
// instruction set (in the widest supported one when the processor lacks it), dividing with the
// divider, in one part.
void icn_step_sweep(FieldSet& fields, const RunParameters& params, sweep_isa isa);

// One time step with the given method (what the processor lacks is replaced by what it has),
// the middle split into up to `parts` contiguous parts of whole blocks with a gap of at least
// three points between two parts. The gaps are evaluated first, from the start-of-step state,
// like the end regions; then no part reads what another writes, so they may run in any order or
// at the same time. A middle too short for that many parts gets fewer, down to one.
void icn_step_sweep(FieldSet& fields, const RunParameters& params, const sweep_method& method,
                    int parts = 1, part_order order = part_order::in_order);
