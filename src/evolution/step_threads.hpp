#pragma once

#include <cstdint>

#include "common/run_parameters.hpp"
#include "evolution/icn_sweep.hpp"
#include "grid/field_set.hpp"

// How many threads the run uses, and whether the time step is split over them right now.
//
// The threads are those of OMP_NUM_THREADS when it is set, otherwise the processors this process
// may run on (its CPU affinity). With one thread, or a grid too small to gain (fewer than
// min_split_points points), every step is the one-thread sweep and nothing is timed.
//
// OMP_DYNAMIC=false forbids the run to adjust its threads: then every step, the set-up and every
// profile are split over all of them, whatever the grid.
//
// Otherwise the run decides for itself as it goes, since every thread count gives the same
// doubles: a split step is only worth it while the other cores are free, and a core shared
// with another busy process can make it far slower than one thread. The steps are timed (one
// clock reading per step). The first runs on one thread; then, once the rest of the run is long
// enough to absorb a try that loses, a split is tried and kept when it is a tenth faster. The
// way not taken is tried again now and then: after 8 steps at first, twice as many each time it
// loses (at most 1024), and never sooner than 32 times what its last loss cost, so that tries
// cost about 3% at most. Split steps that together lose more than two one-thread steps (or
// 1 ms) against one thread, net of what they save, switch back at once. A split is only tried
// at a step that starts while the kernel counts fewer other runnable threads than other
// processors, and the set-up only uses the threads when it did so as the plan was made. While
// the steps run on one thread the idle OpenMP threads are ended (they would spin for
// milliseconds after each parallel region), and a try of the split starts them with one untimed
// split step first. Allocates nothing.
struct step_threads {
    int threads = 1;     // threads of the run
    bool split = false;  // whether the steps are split over the threads now
    bool timed = false;  // whether the run decides as it goes
    sweep_method method;
    std::int64_t one_thread_ns = 0;  // duration of the last step on one thread, 0 when unknown
    std::int64_t split_ns = 0;       // duration of the last split step, 0 when unknown
    std::int64_t interval = 0;       // steps between two tries of the way not taken
    std::int64_t steps_to_probe = 0;
    std::int64_t earliest_probe_ns = 0;  // clock reading before which no try is made
    std::int64_t steps_left = 0;         // steps of the run still to come
    std::int64_t last_start_ns = 0;      // clock reading at the start of the last step
    std::int64_t iteration_ns = 0;       // time from one step to the next, output included
    bool threads_awake = false;          // whether the OpenMP threads have run since let go
    bool setup_threaded = false;         // whether the set-up is spread over the threads
    std::int64_t warm_up_loss_ns = 0;    // what the untimed step before a try lost
    int busy_readings = 0;               // steps in a row that found no free processor
    std::int64_t split_excess_ns = 0;    // what the split steps lost against one thread, net
};

// Smallest grid whose steps may be split; below it the threads cost more than they gain.
inline constexpr std::int64_t min_split_points = 4096;

// The threads the process may use: OMP_NUM_THREADS when it is set, otherwise the processors of
// its CPU affinity; 1 in a build without OpenMP.
int available_threads();

step_threads plan_step_threads(const RunParameters& params);

// One time step, as icn_step computes it, on one thread or split over the threads of the plan,
// whichever has been faster; updates the plan's timings.
void icn_step(FieldSet& fields, const RunParameters& params, step_threads& plan);

// The two halves of icn_step's decision, apart so that they can be followed with made-up times.
// choose_step decides how the step starting at clock reading `now` runs; processor_is_free is
// asked only when a split is about to be tried. record_step takes what that step took.
struct step_choice {
    bool split = false;    // the step is split over the threads
    bool probe = false;    // it tries the way not taken
    bool warm_up = false;  // it starts the threads for a try, untimed
    bool release = false;  // the idle threads are ended before it
};
step_choice choose_step(step_threads& plan, std::int64_t now, bool (*processor_is_free)());
void record_step(step_threads& plan, const step_choice& choice, std::int64_t took,
                 std::int64_t end);

// The threads for the set-up (initial data, profile at time zero) of a run of this plan: all of
// them when the grid is large enough (2^17 points) for the set-up to take milliseconds and the
// kernel showed a free processor when the plan was made, otherwise one.
int setup_threads(const step_threads& plan);

// The threads for formatting a profile now: those of the steps.
int output_threads(const step_threads& plan);

// The most threads that any profile of the run may be formatted on, for which the profile files
// prepare their buffers at start-up: all of them whenever the steps may be split.
int most_output_threads(const step_threads& plan);
