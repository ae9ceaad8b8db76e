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
// clock reading per step); the first few alternate between one thread and all of them, and the
// faster way is kept. The other way is tried again now and then: after probe_interval steps at
// first, twice as many each time it loses, and never sooner than the time its last loss cost
// times loss_budget, so that probing costs at most a few percent. A split step more than twice as
// slow as the last one-thread step switches back at once. With less than 0.3 s of run left, no
// split is tried while the kernel counts as many other runnable threads as there are other
// processors. While the steps run on one
// thread the idle OpenMP threads are ended (they would spin for milliseconds after each parallel
// region), and a try of the split starts them with one untimed split step first. Allocates nothing.
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

// The threads for the set-up (initial data, profile at time zero) of a run of this plan: all of
// them when the grid is large enough (2^17 points) for the set-up to take milliseconds,
// otherwise one.
int setup_threads(const step_threads& plan);

// The threads for formatting a profile now: those of the steps.
int output_threads(const step_threads& plan);
