#pragma once

#include <cstdint>
#include <string>

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

// The instruction sets the middle of the sweep can run in: 2, 4 or 8 points at a time.
enum class sweep_isa { sse2, avx2, avx512 };

// How the middle divides by dx: with the divider instruction, or exactly without it by
// multiply-adds (point_formulas.hpp) in the first iteration or in all three. The exact ways
// check the numerators of each block of the sweep once and redo the block's divisions with the
// divider when one of them is outside the range where that is exact. The multiply-adds need
// AVX2 with FMA, or AVX-512; SSE2 only divides.
enum class sweep_division { divider, first, all };

// A kernel of the middle. Every kernel gives the same doubles.
struct sweep_method {
    sweep_isa isa = sweep_isa::sse2;
    sweep_division division = sweep_division::divider;
    friend bool operator==(const sweep_method&, const sweep_method&) = default;
};

// The kernel as WAVE1D_STEP names it: "avx2:first" and the like.
std::string sweep_method_name(const sweep_method& method);

bool sweep_isa_supported(sweep_isa isa);
bool sweep_method_supported(const sweep_method& method);
// The widest instruction set the processor has, with the divider.
sweep_method widest_sweep_method();

// The most kernels there are, and the most that one step measures besides its own.
inline constexpr int max_sweep_methods = 7;
inline constexpr int max_samples = max_sweep_methods - 1;

// Every kernel the processor has, widest instruction set first, the divider first within one;
// returns how many were written to `methods`.
int supported_sweep_methods(sweep_method (&methods)[max_sweep_methods]);

// How the parts of a split middle are run: one after another, first to last or last to first,
// or each on its own thread (OpenMP; one after another in a build without it).
enum class part_order { in_order, reverse, threads };

// How the middle of one step is laid out. The middle is split into up to `parts` contiguous
// parts of whole blocks with a gap of at least three points between two parts; the gaps are
// evaluated first, from the start-of-step state, like the end regions; then no part reads what
// another writes, so they may run in any order or at the same time. A middle too short for that
// many parts gets fewer, down to one. Within the first part, `samples` pieces of sample_points
// points each (fewer when they do not fit in half of it), beginning sample_offset points into
// it, run with sample_method[k], and are timed; the rest runs with `method`.
struct sweep_layout {
    sweep_method method;
    int parts = 1;
    part_order order = part_order::threads;
    int samples = 0;
    sweep_method sample_method[max_samples];
    std::int64_t sample_points = 0;
    std::int64_t sample_offset = 0;
};

// What the pieces of the first part took when it had samples: points and steady-clock
// nanoseconds of `method` (index 0) and of each sample (index 1 + k); 0 points for a sample that
// did not fit.
struct sweep_timing {
    std::int64_t points[1 + max_samples] = {};
    std::int64_t ns[1 + max_samples] = {};
};

// One time step, as icn_step_passes computes it, with the middle laid out as given (what the
// processor lacks is replaced by the widest it has, with the divider). `timing`, when given and
// the layout has samples, receives what its pieces took.
void icn_step_sweep(FieldSet& fields, const RunParameters& params, const sweep_layout& layout,
                    sweep_timing* timing = nullptr);

// One time step with one kernel, the middle split into up to `parts` parts run in `order`.
void icn_step_sweep(FieldSet& fields, const RunParameters& params, const sweep_method& method,
                    int parts = 1, part_order order = part_order::in_order);
