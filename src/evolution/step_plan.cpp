#include "evolution/step_plan.hpp"

#include <fcntl.h>
#include <sched.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#if defined(_OPENMP)
#include <omp.h>
#endif

#include "common/run_failure.hpp"
#include "grid/grid.hpp"

// The rules of the plan. Each is stated here once.
//
// What is chosen: the kernel of the sweep, among every instruction set the processor has and
// each way of dividing it has; and whether a step runs on one thread or is split over all of
// them. WAVE1D_STEP fixes the kernel, and then nothing is measured: the steps are split over
// all the threads on every grid that rule 1 lets split. OMP_DYNAMIC=false splits every step,
// whatever the grid, and only the kernel is measured.
namespace {

// 1. A grid below this many points is never split: its step takes microseconds, less than the
// threads need to start and meet.
constexpr std::int64_t min_split_points = 4096;

// 2. The first step is split when the kernel shows a free processor as the run starts (at any of
// three readings, see processor_free), and the set-up before it too; after that the set-up and
// every profile take the threads of the steps as they are made at that moment.

// 3. Every step is timed, one clock reading at each start. A kernel is measured on pieces of
// sample_points points of a step made by the chosen kernel (all of them on the first thread's
// share, at most half of it, at a place that moves from step to step), the chosen kernel on the
// rest; on a grid too small for a piece of that size, on a whole step of its own. A kernel is
// chosen when its time per point, the least of its last three measurements, is the least. When the
// steps come to take a quarter longer or shorter than when that was last noticed (the least of the
// last three again), every kernel is due to be measured. No kernel is measured on the first
// try_steps split steps in a row, while the threads are waking.
constexpr std::int64_t sample_points = 4096;

// 3a. On a grid that is neither split nor holds pieces, only one step in timed_every is timed,
// and only such a step measures a kernel: a clock reading is a noticeable share of a step that
// takes microseconds.
constexpr std::int64_t timed_every = 16;

// 4. What is not chosen is tried again now and then: after first_interval steps at first, twice
// as many after each try that loses (at most max_interval), and never sooner than loss_budget
// times what its last try lost (for kernels: kernel_loss_budget times what all of them lost
// together), so that the tries of the threading cost at most about 2% of the run and the
// measurements of kernels about 1%. What a measurement lost is what its pieces took beyond the
// chosen kernel, or its share of what the whole step took beyond the mode's steps when that is
// more: a step that changes instruction sets may lose more than its pieces show. A kernel never
// measured counts as untried_factor times slower than the chosen one until it is, and is first
// measured only when the rest of the run, at its pace so far, is kernel_loss_budget times what that
// would lose.
constexpr std::int64_t first_interval = 8;
constexpr std::int64_t max_interval = 1024;
constexpr std::int64_t loss_budget = 50;
constexpr std::int64_t kernel_loss_budget = 100;
constexpr double untried_factor = 3.0;

// 5. A try of the threading not taken lasts try_steps timed steps, and each way is judged by the
// least of its last three steps that measured no kernel, so that a step that waits for the
// machine decides nothing. The split is taken, or kept, when it is faster than one thread by a
// tenth. The first try of a split waits until the rest of the run takes at least
// first_try_budget_ns, fifty times what starting the threads may take (rule 6 makes sure a
// processor looks free; rule 7 ends a try that loses much).
constexpr int try_steps = 3;
constexpr std::int64_t first_try_budget_ns = 20'000'000;

// 6. A split is only tried at a step that starts while the kernel counts a free processor,
// looked for at up to busy_readings steps in a row (after that the try counts as lost). The
// first split step after one-thread steps wakes the threads and is not judged; the idle threads
// are left to the OpenMP runtime, which lets them sleep soon after a parallel region.
constexpr int busy_readings = 8;

// 7. Split steps that lose more than loss_limit_ns net against one thread, what they saved
// counted up to loss_limit_ns, go back to one thread at once: another process has taken a
// processor. A try of the split that loses that much ends at once. A single step that waits is
// soon made up.
constexpr std::int64_t loss_limit_ns = 5'000'000;

// Whether OMP_DYNAMIC is set to false: the threads may then not be adjusted.
bool threads_fixed() {
    const char* dynamic = std::getenv("OMP_DYNAMIC");
    return dynamic != nullptr && strcasecmp(dynamic, "false") == 0;
}

// Whether a processor was free for a second thread at a reading of the kernel's count of
// runnable threads (/proc/loadavg): fewer runnable threads on the machine besides this one than
// processors besides this one's. True when that cannot be read.
bool processor_free_now() {
    const int fd = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    char text[128];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return true;
    text[n] = '\0';
    // "0.52 0.58 0.59 3/301 12345": the fourth field counts the runnable threads, this one too.
    const char* p = text;
    for (int field = 0; field < 3 && p != nullptr; ++field) {
        p = std::strchr(p, ' ');
        if (p != nullptr) ++p;
    }
    if (p == nullptr) return true;
    const long runnable = std::strtol(p, nullptr, 10);
    const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    return runnable <= 0 || processors <= 0 || runnable - 1 < processors - 1;
}

// Whether a processor is free for a second thread: at any of three readings, since a thread that
// runs for a moment (a kernel worker, the shell that started this) often shows in one.
bool processor_free() {
    for (int reading = 0; reading < 3; ++reading) {
        if (processor_free_now()) return true;
    }
    return false;
}

std::int64_t clock_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr std::string_view valid_values =
    "sse2:divider, avx2:divider, avx2:first, avx2:all, avx512:divider, avx512:first, avx512:all";

// The estimate of a time: the least of its last three measurements (a step that waits for the
// machine only ever takes longer); 0 when there are none.
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

// What measuring kernel k on `points` points is expected to lose against the chosen kernel.
double expected_loss_ns(const step_plan& plan, int mode, int k, std::int64_t points,
                        double chosen_ns) {
    const double own = estimate(plan.timing[mode][k].recent);
    const double per_point = own > 0 ? std::max(own - chosen_ns, 0.0) : untried_factor * chosen_ns;
    return per_point * static_cast<double>(points);
}

// Whether kernel k of the mode is due to be measured on `points` points at clock reading now.
bool sample_due(const step_plan& plan, int mode, int k, std::int64_t now, std::int64_t points,
                double chosen_ns) {
    const kernel_timing& t = plan.timing[mode][k];
    if (k == plan.chosen[mode] || t.steps_to_sample > 0 || now < t.earliest_ns) return false;
    if (chosen_ns <= 0 || plan.iteration_ns <= 0) return false;
    const double rest_ns =
        static_cast<double>(plan.steps_left) * static_cast<double>(plan.iteration_ns);
    return rest_ns >= static_cast<double>(kernel_loss_budget) *
                          expected_loss_ns(plan, mode, k, points, chosen_ns) *
                          static_cast<double>(plan.kernels - 1);
}

// The measurement of kernel k of the mode: its time per point, and when it is measured again.
// What measuring it lost is what it took beyond the chosen kernel, or `step_loss_ns` when that is
// more (a step that changes instruction sets can lose more than its pieces show).
void record_sample(step_plan& plan, int mode, int k, std::int64_t points, std::int64_t ns,
                   double chosen_ns, std::int64_t end, double step_loss_ns = 0) {
    if (points <= 0) return;
    kernel_timing& t = plan.timing[mode][k];
    const double per_point = static_cast<double>(ns) / static_cast<double>(points);
    const double loss =
        std::max(std::max(per_point - chosen_ns, 0.0) * static_cast<double>(points), step_loss_ns);
    add_measurement(t.recent, per_point);
    if (k == plan.chosen[mode]) return;
    const bool lost = chosen_ns > 0 && per_point >= chosen_ns;
    t.interval = lost ? std::min(t.interval * 2, max_interval) : first_interval;
    t.steps_to_sample = t.interval;
    t.earliest_ns = end + static_cast<std::int64_t>(loss * static_cast<double>(kernel_loss_budget) *
                                                    static_cast<double>(plan.kernels - 1));
}

// The chosen kernel's time per point: its estimate, or until it has one what the whole steps
// showed.
double chosen_estimate(const step_plan& plan, int mode) {
    const double own = estimate(plan.timing[mode][plan.chosen[mode]].recent);
    return own > 0 ? own : plan.step_point_ns[mode];
}

// The kernel with the least time per point among those measured; the chosen one when none is.
void choose_kernel(step_plan& plan, int mode) {
    int best = plan.chosen[mode];
    double best_ns = estimate(plan.timing[mode][best].recent);
    for (int k = 0; k < plan.kernels; ++k) {
        const double ns = estimate(plan.timing[mode][k].recent);
        if (ns > 0 && (best_ns <= 0 || ns < best_ns)) {
            best = k;
            best_ns = ns;
        }
    }
    if (best != plan.chosen[mode]) {
        // The one given up is measured again soon, like any other.
        plan.timing[mode][plan.chosen[mode]].interval = first_interval;
        plan.timing[mode][plan.chosen[mode]].steps_to_sample = first_interval;
        plan.chosen[mode] = best;
    }
}

}  // namespace

forced_step parse_forced_step(std::string_view value) {
    forced_step forced;
    for (sweep_isa isa : {sweep_isa::sse2, sweep_isa::avx2, sweep_isa::avx512}) {
        for (sweep_division division :
             {sweep_division::divider, sweep_division::first, sweep_division::all}) {
            // SSE2 has only the divider.
            if (isa == sweep_isa::sse2 && division != sweep_division::divider) continue;
            if (sweep_method_name({isa, division}) == value) {
                forced.method = {isa, division};
                forced.set = true;
            }
        }
    }
    if (!forced.set) {
        throw run_failure{exit_usage, "wave1d: WAVE1D_STEP=" + std::string(value) +
                                          " is not one of " + std::string(valid_values)};
    }
    if (sweep_method_supported(forced.method)) return forced;
    // The nearest kernel the processor has: the widest instruction set at most as wide as the
    // one asked for, with the same division where it has it and the divider otherwise.
    const sweep_method asked = forced.method;
    for (sweep_isa isa : {sweep_isa::avx512, sweep_isa::avx2, sweep_isa::sse2}) {
        if (isa > asked.isa || !sweep_isa_supported(isa)) continue;
        forced.method = {isa, asked.division};
        if (!sweep_method_supported(forced.method))
            forced.method.division = sweep_division::divider;
        break;
    }
    forced.warning = "wave1d: warning: WAVE1D_STEP=" + sweep_method_name(asked) +
                     " is not available on this processor; the steps run " +
                     sweep_method_name(forced.method) + "\n";
    return forced;
}

forced_step forced_step_from_environment() {
    const char* value = std::getenv("WAVE1D_STEP");
    if (value == nullptr || *value == '\0') return {};
    return parse_forced_step(value);
}

int available_threads() {
#if defined(_OPENMP)
    const char* requested = std::getenv("OMP_NUM_THREADS");
    if (requested != nullptr && *requested != '\0') return std::max(1, omp_get_max_threads());
    // A runtime that binds threads (OMP_PROC_BIND, OMP_PLACES) has already bound this one to a
    // single processor; its count of threads was taken before.
    if (omp_get_proc_bind() != omp_proc_bind_false) return std::max(1, omp_get_max_threads());
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return std::max(1, CPU_COUNT(&cpus));
    return std::max(1, omp_get_max_threads());
#else
    return 1;
#endif
}

step_plan make_plan(const RunParameters& params, const forced_step& forced, int threads,
                    bool fixed_threads, bool free_processor) {
    step_plan plan;
    plan.threads = std::max(threads, 1);
    plan.points = point_count(params.nx);
    plan.steps_left = params.nt;
    if (forced.set) {
        plan.kernel[0] = forced.method;
    } else {
        plan.kernels = supported_sweep_methods(plan.kernel);
    }
    // Until measured otherwise, the widest instruction set with the divider (listed first).
    plan.chosen[0] = plan.chosen[1] = 0;
    const bool may_split = plan.threads > 1 && (fixed_threads || plan.points >= min_split_points);
    plan.choose_threads = may_split && !fixed_threads && !forced.set;
    plan.split = may_split && (!plan.choose_threads || free_processor);
    plan.timed = !forced.set && (plan.kernels > 1 || plan.choose_threads);
    plan.interval = first_interval;
    plan.steps_to_probe = try_steps;
    plan.last_split = plan.split;
    for (int mode = 0; mode < 2; ++mode) {
        const std::int64_t parts = mode == 1 ? plan.threads : 1;
        plan.whole_step_samples[mode] = plan.points / parts < 2 * sample_points + 64;
        for (kernel_timing& t : plan.timing[mode]) {
            t.interval = first_interval;
        }
    }
    return plan;
}

step_plan plan_steps(const RunParameters& params, const forced_step& forced) {
    const int threads = available_threads();
    const bool fixed = threads_fixed();
    return make_plan(params, forced, threads, fixed,
                     threads > 1 && !fixed && !forced.set && processor_free());
}

bool step_timed(step_plan& plan) {
    if (!plan.timed) return false;
    if (plan.choose_threads || !plan.whole_step_samples[plan.split ? 1 : 0] ||
        plan.untimed_steps + 1 >= timed_every || plan.last_start_ns == 0) {
        return true;
    }
    ++plan.untimed_steps;
    --plan.steps_left;
    return false;
}

step_choice choose_step(step_plan& plan, std::int64_t now, bool (*processor_is_free)()) {
    if (plan.last_start_ns != 0) {
        plan.iteration_ns = (now - plan.last_start_ns) / (plan.untimed_steps + 1);
    }
    plan.last_start_ns = now;
    plan.untimed_steps = 0;
    --plan.steps_left;
    step_choice choice;

    if (plan.choose_threads) {
        if (plan.try_steps_left == 0) {
            // The first try of the split waits until the rest of the run is long enough to
            // absorb what it may cost.
            const bool first_try = !plan.split && estimate(plan.durations[1]) == 0;
            bool probe =
                plan.steps_to_probe <= 0 && now >= plan.earliest_probe_ns &&
                (!first_try || (plan.iteration_ns > 0 &&
                                plan.steps_left * plan.iteration_ns >= first_try_budget_ns));
            if (probe && !plan.split && !processor_is_free()) {
                probe = false;
                if (++plan.busy_readings >= busy_readings) {
                    plan.busy_readings = 0;
                    plan.interval = std::min(plan.interval * 2, max_interval);
                    plan.steps_to_probe = plan.interval;
                }
            }
            if (probe) {
                plan.busy_readings = 0;
                plan.try_steps_left = try_steps;
                plan.try_loss_ns = 0;
            }
        }
        choice.probe = plan.try_steps_left > 0;
        choice.split = plan.split != choice.probe;
    } else {
        choice.split = plan.split;
    }
    if (choice.split != plan.last_split) plan.steps_in_mode = 0;
    plan.last_split = choice.split;
    choice.warm_up = plan.choose_threads && choice.split && plan.steps_in_mode == 0;
    const bool settled = !choice.split || plan.steps_in_mode >= try_steps;
    ++plan.steps_in_mode;

    const int mode = choice.split ? 1 : 0;
    choice.kernel = plan.chosen[mode];
    if (!plan.timed || plan.kernels <= 1 || choice.probe || !settled) return choice;
    for (kernel_timing& t : plan.timing[mode]) {
        --t.steps_to_sample;
    }
    const double chosen_ns = chosen_estimate(plan, mode);
    if (plan.whole_step_samples[mode]) {
        // One kernel a step, the one due longest.
        for (int k = 0; k < plan.kernels; ++k) {
            if (sample_due(plan, mode, k, now, plan.points, chosen_ns)) {
                choice.kernel = k;
                choice.whole_step_sample = true;
                break;
            }
        }
        return choice;
    }
    for (int k = 0; k < plan.kernels && choice.samples < max_samples; ++k) {
        if (sample_due(plan, mode, k, now, sample_points, chosen_ns)) {
            choice.sample_kernel[choice.samples++] = k;
        }
    }
    return choice;
}

sweep_layout layout_of(const step_plan& plan, const step_choice& choice) {
    sweep_layout layout;
    layout.method = plan.kernel[choice.kernel];
    layout.parts = choice.split ? plan.threads : 1;
    layout.samples = choice.samples;
    for (int n = 0; n < choice.samples; ++n) {
        layout.sample_method[n] = plan.kernel[choice.sample_kernel[n]];
    }
    layout.sample_points = sample_points;
    // A large prime number of points further along each time.
    layout.sample_offset = plan.sample_round * 40009;
    return layout;
}

void record_step(step_plan& plan, const step_choice& choice, std::int64_t took, std::int64_t end,
                 const sweep_timing& pieces) {
    const int mode = choice.split ? 1 : 0;
    // A step that woke the threads, or that measured another kernel than the mode's, on the whole
    // step or on pieces, says little of how long the mode's steps take.
    const bool plain = !choice.warm_up && !choice.whole_step_sample && choice.samples == 0;
    if (plain) {
        add_measurement(plan.durations[mode], static_cast<double>(took));
    }
    if (plan.timed && plan.kernels > 1 && !choice.warm_up && !choice.probe) {
        double chosen_ns = chosen_estimate(plan, mode);
        if (plan.whole_step_samples[mode]) {
            record_sample(plan, mode, choice.kernel, plan.points, took, chosen_ns, end);
        } else if (choice.samples == 0) {
            // Until its pieces are timed, the chosen kernel's time per point on one thread is
            // taken from the mode's steps; when they come to take a quarter longer or shorter
            // than then, every kernel is due to be measured again.
            const std::int64_t parts = choice.split ? plan.threads : 1;
            const double per_point = estimate(plan.durations[mode]) * static_cast<double>(parts) /
                                     static_cast<double>(std::max<std::int64_t>(plan.points, 1));
            const double before = plan.step_point_ns[mode];
            if (before == 0 || per_point * 4 > before * 5 || per_point * 4 < before * 3) {
                if (before > 0) {
                    for (kernel_timing& t : plan.timing[mode]) {
                        t.steps_to_sample = 0;
                    }
                }
                plan.step_point_ns[mode] = per_point;
            }
        } else {
            ++plan.sample_round;
            // The samples are judged against the chosen kernel on the same step.
            const double now_ns = pieces.points[0] > 0 ? static_cast<double>(pieces.ns[0]) /
                                                             static_cast<double>(pieces.points[0])
                                                       : chosen_ns;
            record_sample(plan, mode, plan.chosen[mode], pieces.points[0], pieces.ns[0], chosen_ns,
                          end);
            chosen_ns = now_ns;
            // What the step took beyond the mode's steps, shared among its samples.
            const double plain_ns = estimate(plan.durations[mode]);
            const double step_loss_ns =
                plain_ns > 0 ? std::max(static_cast<double>(took) - plain_ns, 0.0) / choice.samples
                             : 0;
            for (int n = 0; n < choice.samples; ++n) {
                record_sample(plan, mode, choice.sample_kernel[n], pieces.points[1 + n],
                              pieces.ns[1 + n], chosen_ns, end, step_loss_ns);
            }
        }
        choose_kernel(plan, mode);
        // A step of a kernel measured on its own says nothing about the threads.
        if (choice.whole_step_sample) return;
    }
    if (!plan.choose_threads) return;

    // A try that loses is made again only after loss_budget times what it lost.
    auto lost = [&](std::int64_t loss) {
        plan.interval = std::min(plan.interval * 2, max_interval);
        plan.steps_to_probe = plan.interval;
        plan.earliest_probe_ns =
            end + (std::max<std::int64_t>(loss, 0) + plan.warm_up_loss_ns) * loss_budget;
        plan.warm_up_loss_ns = 0;
    };
    const auto one_thread_ns = static_cast<std::int64_t>(estimate(plan.durations[0]));
    if (choice.warm_up) {
        plan.warm_up_loss_ns = std::max<std::int64_t>(took - one_thread_ns, 0);
        return;
    }
    if (!plain) return;
    if (choice.probe) {
        // What the try loses against the way taken (a split try: against one thread).
        const std::int64_t kept_ns = static_cast<std::int64_t>(estimate(plan.durations[1 - mode]));
        if (kept_ns > 0) plan.try_loss_ns += took - kept_ns;
        const bool cut_short = choice.split && plan.try_loss_ns > loss_limit_ns;
        if (--plan.try_steps_left > 0 && !cut_short) return;
        plan.try_steps_left = 0;
        // The split is kept, or taken, when it is faster than one thread by a tenth.
        const double split_ns = estimate(plan.durations[1]);
        const double one_ns = estimate(plan.durations[0]);
        const bool split_won = !cut_short && split_ns * 10 < one_ns * 9;
        if (split_won == choice.split) {
            plan.split = choice.split;
            plan.interval = first_interval;
            plan.steps_to_probe = plan.interval;
            plan.split_balance_ns = 0;
            plan.warm_up_loss_ns = 0;
        } else {
            lost(plan.try_loss_ns);
        }
        return;
    }
    --plan.steps_to_probe;
    if (plan.split && one_thread_ns > 0) {
        plan.split_balance_ns =
            std::max(plan.split_balance_ns + took - one_thread_ns, -loss_limit_ns);
        if (plan.split_balance_ns > loss_limit_ns) {
            plan.split = false;
            lost(plan.split_balance_ns);
            plan.split_balance_ns = 0;
        }
    }
}

void icn_step(FieldSet& fields, const RunParameters& params, step_plan& plan) {
    if (!step_timed(plan)) {
        icn_step_sweep(fields, params,
                       layout_of(plan, step_choice{.split = plan.split,
                                                   .kernel = plan.chosen[plan.split ? 1 : 0]}));
        return;
    }
    const std::int64_t start = clock_ns();
    const step_choice choice = choose_step(plan, start, processor_free);
    sweep_timing pieces;
    icn_step_sweep(fields, params, layout_of(plan, choice), &pieces);
    const std::int64_t end = clock_ns();
    record_step(plan, choice, end - start, end, pieces);
}

int work_threads(const step_plan& plan) {
    return plan.split ? plan.threads : 1;
}

int most_work_threads(const step_plan& plan) {
    return plan.choose_threads || plan.split ? plan.threads : 1;
}
