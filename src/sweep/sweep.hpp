#pragma once

#include <cstdint>
#include <string>

#include "common/run_parameters.hpp"
#include "evolution/boundary_conditions.hpp"
#include "grid/field_set.hpp"
#include "sweep/exact_division.hpp"

// The time step of evolution/icn_step.hpp as one sweep over the grid. The three iterations of
// the step run together, each behind the one before by a block of points and by the stencil's
// reach, which is exactly what the centred differences need of the iteration before: iteration
// 3 is then final at the points it reaches and overwrites phi, psi and pi in place. The fields
// of iterations 1 and 2 are carried in registers as the fluxes alpha*pi, beta*psi, alpha*psi and
// beta*pi, formed once per point. Each step reads phi, psi, pi, alpha and beta once and writes
// phi, psi and pi once, where the passes make about eighty trips over the grid. The results are
// those of icn_step, bit for bit, for every nx and boundtype. Allocates nothing.
//
// What the sweep assumes of the equations (evolution/point_formulas.hpp), each checked against
// icn_step by tests/sweep/sweep_test.cpp:
// - phi enters no right-hand side, so phi is only ever advanced, never carried;
// - the rates of psi and pi are centred differences of the four fluxes (point_fluxes), and
//   rhs_phi is made of the fluxes of its own point;
// - a rate reaches stencil_reach points each side (the lags, the gaps and the shifts of the
//   vectors below are made from it);
// - the boundary conditions set psi and pi at points 0 and nx only, as boundary_ends says.
//
// A step is made of ranges: stretches of whole blocks of the middle of the grid, each swept by
// one kernel, with a gap of at least gap_points points between two. begin_step works out
// everything outside the ranges (the end regions, where the periodic condition ties the left
// end to the right, and the gaps) iteration by iteration in the scratch arrays of the FieldSet;
// then no range reads what another writes, so the ranges may be swept in any order or at the
// same time; end_step stores what begin_step worked out.

// The instruction sets a kernel can run in, narrowest first: 2, 4 or 8 points a vector.
enum class sweep_isa { sse2, avx2, avx512 };

// How a kernel divides by dx: with the divider instruction, or exactly without it by
// multiply-adds (exact_division.hpp) in the first iteration or in all three. The exact ways
// check the numerators of each block once and redo the block's divisions with the divider when
// one of them is outside the range where that is exact. The multiply-adds need AVX2 with FMA,
// or AVX-512; SSE2 only divides.
enum class sweep_division { divider, first, all };

// A kernel of the sweep. Every kernel gives the same doubles.
struct sweep_method {
    sweep_isa isa = sweep_isa::sse2;
    sweep_division division = sweep_division::divider;
    friend bool operator==(const sweep_method&, const sweep_method&) = default;
};

// The kernel as WAVE1D_STEP names it: "avx2:first" and the like.
std::string sweep_method_name(const sweep_method& method);

// Whether the processor has what the kernel needs.
bool sweep_method_supported(const sweep_method& method);

// The most kernels there are.
inline constexpr int max_sweep_methods = 7;

// Every kernel the processor has, widest instruction set first, the divider first within one;
// returns how many were written to `methods`.
int supported_sweep_methods(sweep_method (&methods)[max_sweep_methods]);

// The points one vector of the instruction set holds.
std::int64_t vector_points(sweep_isa isa);

// The fewest points between two ranges: a range reads the state at the start of the step up to
// twice the reach past its end, and the range after it overwrites that state in place.
inline constexpr std::int64_t gap_points = 2 * stencil_reach + 1;

// The most ranges of one step.
inline constexpr int max_ranges = 264;

// The ranges of a step, in order along the grid: range i is points first[i]..first[i]+points[i]-1.
struct step_ranges {
    int count = 0;
    std::int64_t first[max_ranges];
    std::int64_t points[max_ranges];
};

// Where the ranges of a step may lie, in whole blocks of `block` points: the points
// first..first+blocks*block-1. It starts where a block falls on whole vectors of phi and stops
// where the first iteration would read the end point nx; no blocks on a small grid.
struct step_middle {
    std::int64_t first = 0;
    std::int64_t blocks = 0;
    std::int64_t block = 1;
};
step_middle middle_of(const FieldSet& fields, std::int32_t nx, std::int64_t block);

// A step in the making. Level 0 is the state at the start of the step and level j (1..3) the
// result of iteration j. psi_level[j] and pi_level[j] hold the interior values of level j where
// it has been worked out: level 0 in psi and pi themselves, levels 1 to 3 in scratch arrays.
// ends[j] holds psi and pi at the end points as the boundary conditions of iteration j leave
// them (ends[0]: as the step found them). phi of level 3 goes to phi_new; no other level of phi
// is needed.
struct sweep_step {
    std::int32_t nx;
    std::int32_t boundtype;
    double dx;
    exact_divisor divisor;  // dx prepared for the exact division
    bool exact;             // whether the exact division holds for this dx
    double h[4];            // h[j]: step length of iteration j; h[0] is unused
    const double* alpha;
    const double* beta;
    const double* phi;
    double* psi_level[4];
    double* pi_level[4];
    double* phi_new;
    end_values ends[4];
};

// Starts a step whose ranges are `ranges` (none: the whole grid is worked out here).
sweep_step begin_step(FieldSet& fields, const RunParameters& params, const step_ranges& ranges);

// Sweeps the points first..first+points-1 of a step with a kernel the processor has. They are
// a range of the step, whole vectors of the kernel. A dx for which the exact division does not
// hold is divided by the divider.
void sweep_range(const sweep_step& step, FieldSet& fields, std::int64_t first, std::int64_t points,
                 const sweep_method& method);

// Ends a step once all its ranges are swept.
void end_step(FieldSet& fields, const sweep_step& step, const step_ranges& ranges);
