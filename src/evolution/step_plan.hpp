#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/run_parameters.hpp"
#include "evolution/icn_sweep.hpp"
#include "grid/field_set.hpp"

// How the steps of a run are made: with which kernel of the sweep (icn_sweep.hpp) the middle
// runs, and whether a step is split over the threads; and on how many threads the set-up and
// the profiles are formatted. Every choice gives the same bytes, so the plan chooses by timing
// the run's own steps, on the machine it runs on. The rules it follows are stated once, beside
// their constants in step_plan.cpp. Allocates nothing.

// The kernel that WAVE1D_STEP forces, as ISA:DIVISION.
struct forced_step {
    bool set = false;     // WAVE1D_STEP is set (an empty value counts as unset)
    sweep_method method;  // the kernel the steps run: the one asked for, or the nearest one the
                          // processor has
    std::string warning;  // when the processor lacks the one asked for, the warning line that
                          // says what runs instead (ending in a line feed); empty otherwise
};

// The value of WAVE1D_STEP checked; throws run_failure{exit_usage, ...} with the valid values
// when it is not one of them.
forced_step parse_forced_step(std::string_view value);
// The same for the environment's WAVE1D_STEP; unset when the variable is unset or empty.
forced_step forced_step_from_environment();

// The lines that --help shows for WAVE1D_STEP.
inline constexpr std::string_view forced_step_help =
    "  WAVE1D_STEP=ISA:DIVISION runs every step with one kernel, measuring nothing.\n"
    "  ISA is sse2, avx2 or avx512; DIVISION is divider (the divider instruction),\n"
    "  first (exact division without it in the first iteration) or all (in all\n"
    "  three). sse2 has only divider. A kernel the processor lacks is replaced by\n"
    "  the nearest one it has, with a warning. The threads stay with\n"
    "  OMP_NUM_THREADS. Unset, the program times the kernels and threads itself.\n";

// The last three measurements of one thing, in nanoseconds; 0 where none.
struct recent_times {
    double ns[3] = {};
    int next = 0;  // where the next measurement goes
};

// A kernel's time per point, from its last few measurements.
struct kernel_timing {
    recent_times recent;        // ns per point
    std::int64_t interval = 0;  // steps between two measurements
    std::int64_t steps_to_sample = 0;
    std::int64_t earliest_ns = 0;  // clock reading before which it is not measured again
};

// The plan of a run. Index 0 of the per-mode arrays is the one-thread step, 1 the split step.
struct step_plan {
    int threads = 1;              // threads of the run
    bool split = false;           // whether the steps are split over the threads now
    bool choose_threads = false;  // whether the plan decides between one thread and the split
    bool timed = false;           // whether the steps are timed at all
    std::int64_t points = 0;      // grid points
    std::int64_t steps_left = 0;  // steps of the run still to come

    // Steady-clock nanoseconds at the start of the last timed step, 0 while the plan is not
    // timing (forced, or one thread with one kernel). Every step is timed on a grid that may be
    // split or measures kernels on pieces of a step; on a smaller one, one step in 16.
    std::int64_t last_start_ns = 0;
    std::int64_t untimed_steps = 0;  // steps since the last timed one
    std::int64_t iteration_ns = 0;   // time from one step to the next, output included

    // The kernels.
    int kernels = 1;
    sweep_method kernel[max_sweep_methods];
    int chosen[2] = {};  // the kernel each mode runs
    kernel_timing timing[2][max_sweep_methods];
    double step_point_ns[2] = {};     // per point and thread of the steps when last noticed
    bool whole_step_samples[2] = {};  // a kernel is measured on a whole step (small grids)
    std::int64_t sample_round = 0;    // measuring steps so far, moves the samples along the grid

    // The threads.
    recent_times durations[2];  // the last steps of each mode that measured no kernel
    std::int64_t interval = 0;  // steps between two tries of the way not taken
    std::int64_t steps_to_probe = 0;
    std::int64_t earliest_probe_ns = 0;  // clock reading before which no try is made
    int try_steps_left = 0;              // timed steps of the try under way, 0 when none is
    std::int64_t try_loss_ns = 0;        // what the try under way has lost so far
    bool last_split = false;             // whether the step before was split
    int steps_in_mode = 0;               // timed steps in a row made the way of the last one
    std::int64_t warm_up_loss_ns = 0;    // what the step that woke the threads for a try lost
    int busy_readings = 0;               // steps in a row that found no free processor
    std::int64_t split_balance_ns = 0;   // what the split steps lost against one thread, net
};

// The threads the process may use: OMP_NUM_THREADS when it is set, the runtime's own count when
// it binds its threads (OMP_PROC_BIND, OMP_PLACES), otherwise the processors of its CPU
// affinity; 1 in a build without OpenMP.
int available_threads();

step_plan plan_steps(const RunParameters& params, const forced_step& forced);
// The plan for given threads and kernels, without looking at the environment or the kernel's
// load: what plan_steps makes of them, for tests.
step_plan make_plan(const RunParameters& params, const forced_step& forced, int threads,
                    bool threads_fixed, bool processor_free);

// One time step, as icn_step computes it, made as the plan says; updates the plan's timings.
void icn_step(FieldSet& fields, const RunParameters& params, step_plan& plan);

// The two halves of icn_step's decision, apart so that they can be followed with made-up times.
// choose_step decides how the step starting at clock reading `now` runs; processor_is_free is
// asked only when a split is about to be tried. record_step takes what that step took, and what
// its pieces took when it measured kernels.
struct step_choice {
    bool split = false;    // the step is split over the threads
    bool probe = false;    // it tries the way of threading not taken
    bool warm_up = false;  // it wakes the threads after one-thread steps, and is not judged
    int kernel = 0;        // the kernel of the step (an index into the plan's kernels)
    int samples = 0;       // kernels measured on pieces of the step
    int sample_kernel[max_samples] = {};
    bool whole_step_sample = false;  // the step measures its kernel, not the mode's chosen one
};
// Whether the next step is timed (and so made through choose_step and record_step); when not,
// it is counted as made with the chosen kernel.
bool step_timed(step_plan& plan);
step_choice choose_step(step_plan& plan, std::int64_t now, bool (*processor_is_free)());
void record_step(step_plan& plan, const step_choice& choice, std::int64_t took, std::int64_t end,
                 const sweep_timing& pieces);

// The layout of the sweep for a choice.
sweep_layout layout_of(const step_plan& plan, const step_choice& choice);

// The threads for the set-up (initial data, profile at time zero) and for formatting a profile
// now: those of the steps as the plan makes them now.
int work_threads(const step_plan& plan);

// The most threads that any profile of the run may be formatted on, for which the profile files
// prepare their buffers at start-up: all of them whenever the steps may be split.
int most_work_threads(const step_plan& plan);
