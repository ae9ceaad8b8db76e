#pragma once

#include <cstdint>

#include "common/run_parameters.hpp"
#include "grid/field_set.hpp"
#include "sweep/sweep.hpp"

// How the ranges of one step are laid out and swept: over threads, and with kernels measured on
// some of them.

// The most kernels that one step measures besides its own.
inline constexpr int max_samples = max_sweep_methods - 1;

// The middle of the step is cut into up to `parts` parts of whole blocks, one per thread, with a
// gap between two; a middle too short for that many parts gets fewer, down to one. Within the
// first part, `samples` ranges of sample_points points each (fewer when they do not fit in half
// of it), beginning sample_offset points into it, are swept with sample_method[k]; every other
// range with `method`.
struct step_layout {
    sweep_method method;
    int parts = 1;
    int samples = 0;
    sweep_method sample_method[max_samples];
    std::int64_t sample_points = 0;
    std::int64_t sample_offset = 0;
};

// The ranges of a layout: which method sweeps each (0: the layout's method, 1 + k: sample k) and
// which part it belongs to.
struct laid_out_ranges {
    step_ranges ranges;
    int method_of[max_ranges];
    int part_of[max_ranges];
    int parts = 0;
    int samples = 0;  // samples that fit into the first part
};
laid_out_ranges lay_out(const step_middle& middle, const step_layout& layout);

// What the ranges of the first part took when it had samples: points and steady-clock
// nanoseconds of `method` (index 0) and of each sample (index 1 + k); 0 points for a sample that
// did not fit.
struct sample_timing {
    std::int64_t points[1 + max_samples] = {};
    std::int64_t ns[1 + max_samples] = {};
};

// One time step, as icn_step computes it, laid out as given, its parts on threads when there
// are several (OpenMP; one after another in a build without it). The methods are ones the
// processor has. `timing`, when given, receives what the ranges of the first part took when
// the layout has samples.
void make_step(FieldSet& fields, const RunParameters& params, const step_layout& layout,
               sample_timing* timing = nullptr);
