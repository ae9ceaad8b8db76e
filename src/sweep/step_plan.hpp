#pragma once

#include <cstdint>

#include "common/run_parameters.hpp"
#include "grid/field_set.hpp"
#include "sweep/forced_step.hpp"
#include "sweep/step_layout.hpp"

// How the steps of a run are made: with which kernel of the sweep, and whether a step is split
// over the threads; and on how many threads the set-up and the profiles are formatted. Every
// choice gives the same bytes, so the plan chooses by timing the run's own steps, on the
// machine it runs on. Its rules are stated once, beside their constants in step_plan.cpp.
// Allocates nothing.

// What the plan of a run keeps to from start to end. Index 0 of the per-mode arrays is the
// one-thread step, 1 the split step.
struct plan_config {
    int threads = 1;              // threads of a split step
    bool choose_threads = false;  // whether the plan decides between one thread and the split
    bool timed = false;           // whether steps are timed at all
    std::int64_t points = 0;      // grid points
    int kernels = 1;
    sweep_method kernel[max_sweep_methods];
    bool whole_step_samples[2] = {};  // a kernel is measured on a whole step (small grids)
};

// The last three measurements of one thing, in nanoseconds; 0 where none.
struct recent_times {
    double ns[3] = {};
    int next = 0;  // where the next measurement goes
};

// When something not chosen (a kernel, the way of threading not taken) is measured again: after
// `interval` more steps that could measure it, and not before the clock reads earliest_ns.
struct retry_spacing {
    std::int64_t interval = 0;
    std::int64_t steps_left = 0;
    std::int64_t earliest_ns = 0;
};

// A kernel's time per point, from its last few measurements, and when it is measured again.
struct kernel_timing {
    recent_times recent;  // ns per point
    retry_spacing retry;
};

// What the plan has measured and decided so far.
struct plan_state {
    bool split = false;           // whether the steps are split over the threads now
    std::int64_t steps_left = 0;  // steps of the run still to come
    // Steady-clock nanoseconds at the start of the last timed step; 0 before the first.
    std::int64_t last_start_ns = 0;
    std::int64_t untimed_steps = 0;  // steps since the last timed one
    std::int64_t iteration_ns = 0;   // time from one step to the next, output included

    // The kernels.
    int chosen[2] = {};  // the kernel each mode runs, an index into plan_config::kernel
    kernel_timing timing[2][max_sweep_methods];
    double step_point_ns[2] = {};      // per point and thread of the steps when last noticed
    std::int64_t measuring_steps = 0;  // steps that measured kernels on ranges so far

    // The threads.
    recent_times durations[2];          // the last steps of each mode that measured no kernel
    retry_spacing try_retry;            // when the way not taken is tried again
    int try_steps_left = 0;             // timed steps of the try under way, 0 when none is
    std::int64_t try_loss_ns = 0;       // what the try under way has lost so far
    bool last_split = false;            // whether the step before was split
    int steps_in_mode = 0;              // timed steps in a row made the way of the last one
    std::int64_t warm_up_loss_ns = 0;   // what the step that woke the threads for a try lost
    std::int64_t split_balance_ns = 0;  // what the split steps lost against one thread, net
};

struct step_plan {
    plan_config config;
    plan_state state;
};

// The plan for `threads` threads (OMP_DYNAMIC=false when fixed_threads) and the kernel forced,
// if one is; free_processor tells whether a processor looks free as the run starts.
step_plan plan_steps(const RunParameters& params, const forced_step& forced, int threads,
                     bool fixed_threads, bool free_processor);

// One time step, as icn_step computes it, made as the plan says; updates the plan's timings.
void make_planned_step(FieldSet& fields, const RunParameters& params, step_plan& plan);

// The decisions of make_planned_step, apart so that they can be followed with made-up times.
// choose_step decides how the step starting at clock reading `now` runs; processor_is_free is
// asked only when a split is about to be tried. record_step takes what that step took, and what
// the ranges of its first part took when it measured kernels.
struct step_choice {
    bool split = false;    // the step is split over the threads
    bool probe = false;    // it tries the way of threading not taken
    bool warm_up = false;  // it wakes the threads after one-thread steps, and is not judged
    int kernel = 0;        // the kernel of the step (an index into the plan's kernels)
    int samples = 0;       // kernels measured on ranges of the step
    int sample_kernel[max_samples] = {};
    bool whole_step_sample = false;  // the step measures its kernel, not the mode's chosen one
};
// Whether the next step is timed (and so made through choose_step and record_step); when not,
// it is counted as made with the chosen kernel.
bool step_timed(step_plan& plan);
step_choice choose_step(step_plan& plan, std::int64_t now, bool (*processor_is_free)());
void record_step(step_plan& plan, const step_choice& choice, std::int64_t took, std::int64_t end,
                 const sample_timing& samples);

// The layout of the step for a choice.
step_layout layout_of(const step_plan& plan, const step_choice& choice);

// The threads for the set-up (initial data, profile at time zero) and for formatting a profile
// now: those of the steps as the plan makes them now.
int work_threads(const step_plan& plan);

// The most threads that any step or profile of the run may use: all of them whenever the steps
// may be split.
int most_work_threads(const step_plan& plan);
