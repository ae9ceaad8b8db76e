#include "sweep/step_plan.hpp"

#include <algorithm>

#include "common/clock.hpp"
#include "grid/grid.hpp"
#include "sweep/threads.hpp"

namespace {

// The rules of the plan, stated once here beside their constants. It chooses the kernel (each
// instruction set the processor has, with each way of dividing it has) and whether a step runs
// on one thread or is split over all of them. A forced kernel is never timed, and its steps are
// split on every grid that rule 1 lets split; OMP_DYNAMIC=false splits every step and measures
// only the kernel.

// 1. A grid below this many points is never split: its step is shorter than the threads take to
// meet. The first step and the set-up are split when a processor looks free as the run starts
// (processor_free, threads.hpp); after that the set-up and the profiles follow the steps.
constexpr std::int64_t min_split_points = 4096;

// 2. Every step is timed at its start, except on a grid neither split nor holding sample ranges
// (rule 3): there one step in timed_every is, as a clock reading is a noticeable share of it.
constexpr std::int64_t timed_every = 16;

// 3. Other kernels are measured on ranges of sample_points points inside a step of the chosen
// one (in the first thread's part, at most half of it, at a place that moves from step to step),
// or on whole steps of their own where the grid is too small for such ranges. The kernel with
// the least time per point over its last three measurements is chosen. When the steps come to
// take a quarter longer or shorter, every kernel is due again. No kernel is measured while the
// threads wake (the first try_steps split steps).
constexpr std::int64_t sample_points = 4096;

// 4. What is not chosen, a kernel or the way of threading not taken, is measured again after
// first_interval steps that could measure it, twice as many after each loss (at most
// max_interval), and never before loss_budget times its last loss (kernels: kernel_loss_budget,
// over all of them): tries cost about 2% of the run, kernel measurements about 1%. A kernel's
// loss is what its ranges took beyond the chosen kernel, or its share of what the step took
// beyond the mode's steps when that is more. A kernel never measured counts as untried_factor
// times slower, and any is measured only while the rest of the run, at its pace so far, is
// kernel_loss_budget times what that would lose.
constexpr std::int64_t first_interval = 8;
constexpr std::int64_t max_interval = 1024;
constexpr std::int64_t loss_budget = 50;
constexpr std::int64_t kernel_loss_budget = 100;
constexpr double untried_factor = 3.0;

// 5. A try lasts try_steps timed steps. Each way is judged by the least of its last three steps
// that measured no kernel, so that a step that waits for the machine decides nothing; the split
// is taken, or kept, when it is faster than one thread by a tenth. The first split step after
// one-thread steps wakes the threads and is not judged; what it lost counts with the try. The
// first try of a split waits until the rest of the run takes first_try_budget_ns, and a split is
// tried only while a processor looks free: finding none counts as a try lost.
constexpr int try_steps = 3;
constexpr std::int64_t first_try_budget_ns = 20'000'000;

// 6. Split steps that lose more than loss_limit_ns net against one thread (what they saved
// counted up to loss_limit_ns) go back to one thread at once: another process has taken a
// processor. A try of the split that loses that much ends at once.
constexpr std::int64_t loss_limit_ns = 5'000'000;

// The least of the last three measurements (a step that waits only ever takes longer); 0 when
// there are none.
double estimate(const recent_times& times) {
    double least = 0;
    for (double ns : times.ns) {
        if (ns > 0 && (least == 0 || ns < least)) least = ns;
    }
    return least;
}

void add_measurement(recent_times& times, double ns) {
    times.ns[times.next] = ns;
    times.next = (times.next + 1) % 3;
}

double as_double(std::int64_t n) {
    return static_cast<double>(n);
}

// kernel_loss_budget, shared among the kernels other than the chosen one.
double kernel_budget(const step_plan& plan) {
    return as_double(kernel_loss_budget) * as_double(plan.config.kernels - 1);
}

bool due(const retry_spacing& retry, std::int64_t now) {
    return retry.steps_left <= 0 && now >= retry.earliest_ns;
}

// After a measurement or a try that ended at clock reading `end`: due again soon when it did not
// lose, after twice the steps when it lost, and never before `budget` times what it lost.
void space_retry(retry_spacing& retry, bool lost, std::int64_t end, double loss_ns, double budget) {
    retry.interval = lost ? std::min(retry.interval * 2, max_interval) : first_interval;
    retry.steps_left = retry.interval;
    retry.earliest_ns = end + static_cast<std::int64_t>(std::max(loss_ns, 0.0) * budget);
}

// Whether kernel k of the mode is due to be measured on `points` points at clock reading now.
bool sample_due(const step_plan& plan, int mode, int k, std::int64_t now, std::int64_t points,
                double chosen_ns) {
    const plan_state& s = plan.state;
    const kernel_timing& t = s.timing[mode][k];
    if (k == s.chosen[mode] || !due(t.retry, now)) return false;
    if (chosen_ns <= 0 || s.iteration_ns <= 0) return false;
    const double own = estimate(t.recent);
    const double loss_per_point =
        own > 0 ? std::max(own - chosen_ns, 0.0) : untried_factor * chosen_ns;
    return as_double(s.steps_left) * as_double(s.iteration_ns) >=
           kernel_budget(plan) * loss_per_point * as_double(points);
}

// The measurement of kernel k of the mode, and when it is measured again.
void record_sample(step_plan& plan, int mode, int k, std::int64_t points, std::int64_t ns,
                   double chosen_ns, std::int64_t end, double step_loss_ns = 0) {
    if (points <= 0) return;
    kernel_timing& t = plan.state.timing[mode][k];
    const double per_point = as_double(ns) / as_double(points);
    add_measurement(t.recent, per_point);
    if (k == plan.state.chosen[mode]) return;
    space_retry(t.retry, chosen_ns > 0 && per_point >= chosen_ns, end,
                std::max((per_point - chosen_ns) * as_double(points), step_loss_ns),
                kernel_budget(plan));
}

// The chosen kernel's time per point: its estimate, or until it has one what the steps showed.
double chosen_estimate(const step_plan& plan, int mode) {
    const double own = estimate(plan.state.timing[mode][plan.state.chosen[mode]].recent);
    return own > 0 ? own : plan.state.step_point_ns[mode];
}

// The kernel with the least time per point among those measured; the chosen one when none is.
void choose_kernel(step_plan& plan, int mode, std::int64_t end) {
    plan_state& s = plan.state;
    int best = s.chosen[mode];
    double best_ns = estimate(s.timing[mode][best].recent);
    for (int k = 0; k < plan.config.kernels; ++k) {
        const double ns = estimate(s.timing[mode][k].recent);
        if (ns > 0 && (best_ns <= 0 || ns < best_ns)) {
            best = k;
            best_ns = ns;
        }
    }
    if (best != s.chosen[mode]) {
        // The one given up is measured again soon, like any other.
        space_retry(s.timing[mode][s.chosen[mode]].retry, false, end, 0, 0);
        s.chosen[mode] = best;
    }
}

// The kernels' side of record_step.
void record_kernels(step_plan& plan, const step_choice& choice, std::int64_t took, std::int64_t end,
                    const sample_timing& samples) {
    plan_state& s = plan.state;
    const int mode = choice.split ? 1 : 0;
    double chosen_ns = chosen_estimate(plan, mode);
    if (plan.config.whole_step_samples[mode]) {
        record_sample(plan, mode, choice.kernel, plan.config.points, took, chosen_ns, end);
    } else if (choice.samples == 0) {
        // Until its ranges are timed, the chosen kernel's time per point on one thread is taken
        // from the mode's steps; when they come to take a quarter longer or shorter than then,
        // every kernel is due to be measured again.
        const std::int64_t parts = choice.split ? plan.config.threads : 1;
        const double per_point = estimate(s.durations[mode]) * as_double(parts) /
                                 as_double(std::max<std::int64_t>(plan.config.points, 1));
        const double before = s.step_point_ns[mode];
        if (before == 0 || per_point * 4 > before * 5 || per_point * 4 < before * 3) {
            if (before > 0) {
                for (kernel_timing& t : s.timing[mode]) {
                    t.retry.steps_left = 0;
                }
            }
            s.step_point_ns[mode] = per_point;
        }
    } else {
        ++s.measuring_steps;
        // The samples are judged against the chosen kernel on the same step.
        const double now_ns = samples.points[0] > 0
                                  ? as_double(samples.ns[0]) / as_double(samples.points[0])
                                  : chosen_ns;
        record_sample(plan, mode, s.chosen[mode], samples.points[0], samples.ns[0], chosen_ns, end);
        chosen_ns = now_ns;
        // What the step took beyond the mode's steps, shared among its samples.
        const double plain_ns = estimate(s.durations[mode]);
        const double step_loss_ns =
            plain_ns > 0 ? std::max(as_double(took) - plain_ns, 0.0) / choice.samples : 0;
        for (int n = 0; n < choice.samples; ++n) {
            record_sample(plan, mode, choice.sample_kernel[n], samples.points[1 + n],
                          samples.ns[1 + n], chosen_ns, end, step_loss_ns);
        }
    }
    choose_kernel(plan, mode, end);
}

// The threads' side of record_step, for a step that measured no kernel.
void record_threads(step_plan& plan, const step_choice& choice, std::int64_t took,
                    std::int64_t end) {
    plan_state& s = plan.state;
    // A try that loses is made again only after loss_budget times what it lost.
    auto lost = [&](std::int64_t loss) {
        space_retry(s.try_retry, true, end,
                    as_double(std::max<std::int64_t>(loss, 0) + s.warm_up_loss_ns), loss_budget);
        s.warm_up_loss_ns = 0;
    };
    const auto one_thread_ns = static_cast<std::int64_t>(estimate(s.durations[0]));
    if (choice.warm_up) {
        s.warm_up_loss_ns = std::max<std::int64_t>(took - one_thread_ns, 0);
        return;
    }
    if (choice.probe) {
        // What the try loses against the way taken (a split try: against one thread).
        const auto kept_ns = static_cast<std::int64_t>(estimate(s.durations[choice.split ? 0 : 1]));
        if (kept_ns > 0) s.try_loss_ns += took - kept_ns;
        const bool cut_short = choice.split && s.try_loss_ns > loss_limit_ns;
        if (--s.try_steps_left > 0 && !cut_short) return;
        s.try_steps_left = 0;
        const bool split_won =
            !cut_short && estimate(s.durations[1]) * 10 < estimate(s.durations[0]) * 9;
        if (split_won == choice.split) {
            s.split = choice.split;
            space_retry(s.try_retry, false, end, 0, 0);
            s.split_balance_ns = 0;
            s.warm_up_loss_ns = 0;
        } else {
            lost(s.try_loss_ns);
        }
        return;
    }
    --s.try_retry.steps_left;
    if (s.split && one_thread_ns > 0) {
        s.split_balance_ns = std::max(s.split_balance_ns + took - one_thread_ns, -loss_limit_ns);
        if (s.split_balance_ns > loss_limit_ns) {
            s.split = false;
            lost(s.split_balance_ns);
            s.split_balance_ns = 0;
        }
    }
}

}  // namespace

step_plan plan_steps(const RunParameters& params, const forced_step& forced, int threads,
                     bool fixed_threads, bool free_processor) {
    step_plan plan;
    plan_config& c = plan.config;
    plan_state& s = plan.state;
    c.threads = std::max(threads, 1);
    c.points = point_count(params.nx);
    if (forced.set) {
        c.kernel[0] = forced.method;
    } else {
        c.kernels = supported_sweep_methods(c.kernel);
    }
    const bool may_split = c.threads > 1 && (fixed_threads || c.points >= min_split_points);
    c.choose_threads = may_split && !fixed_threads && !forced.set;
    c.timed = !forced.set && (c.kernels > 1 || c.choose_threads);
    for (int mode = 0; mode < 2; ++mode) {
        const std::int64_t parts = mode == 1 ? c.threads : 1;
        c.whole_step_samples[mode] = c.points / parts < 2 * sample_points + 64;
        for (kernel_timing& t : s.timing[mode]) {
            t.retry.interval = first_interval;
        }
    }
    // Until measured otherwise, the widest instruction set with the divider (listed first).
    s.split = may_split && (!c.choose_threads || free_processor);
    s.last_split = s.split;
    s.steps_left = params.nt;
    s.try_retry = {.interval = first_interval, .steps_left = try_steps};
    return plan;
}

bool step_timed(step_plan& plan) {
    const plan_config& c = plan.config;
    plan_state& s = plan.state;
    if (!c.timed) return false;
    if (c.choose_threads || !c.whole_step_samples[s.split ? 1 : 0] ||
        s.untimed_steps + 1 >= timed_every || s.last_start_ns == 0) {
        return true;
    }
    ++s.untimed_steps;
    --s.steps_left;
    return false;
}

step_choice choose_step(step_plan& plan, std::int64_t now, bool (*processor_is_free)()) {
    const plan_config& c = plan.config;
    plan_state& s = plan.state;
    if (s.last_start_ns != 0) s.iteration_ns = (now - s.last_start_ns) / (s.untimed_steps + 1);
    s.last_start_ns = now;
    s.untimed_steps = 0;
    --s.steps_left;
    step_choice choice;
    choice.split = s.split;
    if (c.choose_threads) {
        // The first try of the split waits until the rest of the run can absorb what it costs.
        const bool first_try = !s.split && estimate(s.durations[1]) == 0;
        bool try_now = s.try_steps_left == 0 && due(s.try_retry, now) &&
                       (!first_try || (s.iteration_ns > 0 &&
                                       s.steps_left * s.iteration_ns >= first_try_budget_ns));
        if (try_now && !s.split && !processor_is_free()) {
            try_now = false;
            space_retry(s.try_retry, true, now, 0, 0);
        }
        if (try_now) {
            s.try_steps_left = try_steps;
            s.try_loss_ns = 0;
        }
        choice.probe = s.try_steps_left > 0;
        choice.split = s.split != choice.probe;
    }
    if (choice.split != s.last_split) s.steps_in_mode = 0;
    s.last_split = choice.split;
    choice.warm_up = c.choose_threads && choice.split && s.steps_in_mode == 0;
    const bool settled = !choice.split || s.steps_in_mode >= try_steps;
    ++s.steps_in_mode;

    const int mode = choice.split ? 1 : 0;
    choice.kernel = s.chosen[mode];
    if (!c.timed || c.kernels <= 1 || choice.probe || !settled) return choice;
    for (kernel_timing& t : s.timing[mode]) {
        --t.retry.steps_left;
    }
    const double chosen_ns = chosen_estimate(plan, mode);
    for (int k = 0; k < c.kernels && choice.samples < max_samples; ++k) {
        if (c.whole_step_samples[mode]) {
            // One kernel a step, the one due longest.
            if (sample_due(plan, mode, k, now, c.points, chosen_ns)) {
                choice.kernel = k;
                choice.whole_step_sample = true;
                break;
            }
        } else if (sample_due(plan, mode, k, now, sample_points, chosen_ns)) {
            choice.sample_kernel[choice.samples++] = k;
        }
    }
    return choice;
}

step_layout layout_of(const step_plan& plan, const step_choice& choice) {
    step_layout layout;
    layout.method = plan.config.kernel[choice.kernel];
    layout.parts = choice.split ? plan.config.threads : 1;
    layout.samples = choice.samples;
    for (int n = 0; n < choice.samples; ++n) {
        layout.sample_method[n] = plan.config.kernel[choice.sample_kernel[n]];
    }
    layout.sample_points = sample_points;
    // A large prime number of points further along each time.
    layout.sample_offset = plan.state.measuring_steps * 40009;
    return layout;
}

void record_step(step_plan& plan, const step_choice& choice, std::int64_t took, std::int64_t end,
                 const sample_timing& samples) {
    const int mode = choice.split ? 1 : 0;
    // A step that woke the threads, or measured another kernel than the mode's, on the whole
    // step or on ranges, says little of how long the mode's steps take.
    const bool plain = !choice.warm_up && !choice.whole_step_sample && choice.samples == 0;
    if (plain) add_measurement(plan.state.durations[mode], as_double(took));
    if (plan.config.timed && plan.config.kernels > 1 && !choice.warm_up && !choice.probe) {
        record_kernels(plan, choice, took, end, samples);
        // A step of a kernel measured on its own says nothing about the threads.
        if (choice.whole_step_sample) return;
    }
    if (plan.config.choose_threads && (plain || choice.warm_up)) {
        record_threads(plan, choice, took, end);
    }
}

void make_planned_step(FieldSet& fields, const RunParameters& params, step_plan& plan) {
    if (!step_timed(plan)) {
        const bool split = plan.state.split;
        make_step(fields, params,
                  layout_of(plan, step_choice{.split = split, .kernel = plan.state.chosen[split]}));
        return;
    }
    const std::int64_t start = clock_ns();
    const step_choice choice = choose_step(plan, start, processor_free);
    sample_timing samples;
    make_step(fields, params, layout_of(plan, choice), &samples);
    const std::int64_t end = clock_ns();
    record_step(plan, choice, end - start, end, samples);
}

int work_threads(const step_plan& plan) {
    return plan.state.split ? plan.config.threads : 1;
}

int most_work_threads(const step_plan& plan) {
    return plan.config.choose_threads || plan.state.split ? plan.config.threads : 1;
}
