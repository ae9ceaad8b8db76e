#include "evolution/step_threads.hpp"

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

#include "grid/grid.hpp"

namespace {

// Steps between two tries of the way not taken: at first, and at most.
constexpr std::int64_t first_interval = 8;
constexpr std::int64_t max_interval = 1024;

// After a try that lost, the next comes no sooner than this many times the time it lost, so
// that tries cost at most about 1/loss_budget of the run.
constexpr std::int64_t loss_budget = 32;

// The first split step is only tried when the steps still to come, at the pace of the run so
// far, take at least this long: on a busy machine that try can cost a few milliseconds.
constexpr std::int64_t first_try_budget_ns = 100'000'000;

// The time split steps may lose against one thread, at least, before the run goes back to one.
constexpr std::int64_t excess_limit_ns = 1'000'000;

// A split is only tried while a processor is free, looked for at the start of up to this many
// steps in a row.
constexpr int busy_readings = 8;

// Smallest grid whose set-up (initial data, profile at time zero) is spread over the threads:
// it then takes milliseconds, more than a thread held up by another process can cost.
constexpr std::int64_t min_threaded_setup_points = std::int64_t{1} << 17;

// Whether OMP_DYNAMIC is set to false: the threads may then not be adjusted.
bool threads_fixed() {
    const char* dynamic = std::getenv("OMP_DYNAMIC");
    return dynamic != nullptr && strcasecmp(dynamic, "false") == 0;
}

// Ends the idle threads of the OpenMP runtime; the next parallel region starts them again.
void release_threads() {
#if defined(_OPENMP)
    omp_pause_resource_all(omp_pause_soft);
#endif
}

// Whether a processor is free for a second thread right now: fewer runnable threads on the
// machine besides this one than processors besides this one's, by the kernel's count of runnable
// threads (/proc/loadavg). True when that cannot be read.
bool processor_free() {
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

std::int64_t clock_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int available_threads() {
#if defined(_OPENMP)
    const char* requested = std::getenv("OMP_NUM_THREADS");
    if (requested != nullptr && *requested != '\0') return std::max(1, omp_get_max_threads());
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return std::max(1, CPU_COUNT(&cpus));
    return std::max(1, omp_get_max_threads());
#else
    return 1;
#endif
}

step_threads plan_step_threads(const RunParameters& params) {
    step_threads plan;
    plan.threads = available_threads();
    plan.method = fastest_sweep_method();
    if (plan.threads > 1 && threads_fixed()) {
        plan.split = true;
        return plan;
    }
    plan.timed = plan.threads > 1 && point_count(params.nx) >= min_split_points;
    plan.steps_left = params.nt;
    plan.interval = first_interval;
    plan.steps_to_probe = 1;
    plan.setup_threaded =
        plan.timed && point_count(params.nx) >= min_threaded_setup_points && processor_free();
    plan.threads_awake = plan.setup_threaded;
    return plan;
}

step_choice choose_step(step_threads& plan, std::int64_t now, bool (*processor_is_free)()) {
    if (plan.last_start_ns != 0) plan.iteration_ns = now - plan.last_start_ns;
    plan.last_start_ns = now;
    --plan.steps_left;

    // The first try of a split step waits until the rest of the run is long enough to absorb
    // what it may cost.
    const bool first_try = plan.split_ns == 0;
    bool probe = plan.steps_to_probe <= 0 && now >= plan.earliest_probe_ns &&
                 (!first_try || (plan.iteration_ns > 0 &&
                                 plan.steps_left * plan.iteration_ns >= first_try_budget_ns));
    // A try that waits for processors taken by other processes costs milliseconds: a split is
    // only tried once the kernel shows a free processor at the start of a step; after
    // busy_readings steps without one, the try counts as lost.
    if (probe && !plan.split && !plan.threads_awake && !processor_is_free()) {
        probe = false;
        if (++plan.busy_readings >= busy_readings) {
            plan.busy_readings = 0;
            plan.interval = std::min(plan.interval * 2, max_interval);
            plan.steps_to_probe = plan.interval;
        }
    }
    step_choice choice;
    choice.probe = probe;
    choice.split = plan.split != probe;
    // Idle OpenMP threads keep spinning for a while, which on a busy machine takes processor time
    // from this thread: while the steps run on one thread, the threads are let go.
    choice.release = !choice.split && !plan.split && plan.threads_awake;
    if (choice.release) plan.threads_awake = false;
    // A try of a split step with no threads running first starts them, untimed.
    choice.warm_up = choice.split && !plan.threads_awake;
    plan.threads_awake = plan.threads_awake || choice.split;
    return choice;
}

void record_step(step_threads& plan, const step_choice& choice, std::int64_t took,
                 std::int64_t end) {
    auto lost = [&](std::int64_t loss) {
        plan.interval = std::min(plan.interval * 2, max_interval);
        plan.steps_to_probe = plan.interval;
        plan.earliest_probe_ns =
            end + (std::max<std::int64_t>(loss, 0) + plan.warm_up_loss_ns) * loss_budget;
    };
    if (choice.warm_up) {
        // The try itself comes with the next step; what starting the threads cost counts
        // against it if it loses.
        plan.warm_up_loss_ns = std::max<std::int64_t>(took - plan.one_thread_ns, 0);
        return;
    }
    (choice.split ? plan.split_ns : plan.one_thread_ns) = took;
    --plan.steps_to_probe;
    if (choice.probe) {
        // The way tried is kept when it is faster by a tenth.
        const std::int64_t kept = choice.split ? plan.one_thread_ns : plan.split_ns;
        if (took * 10 < kept * 9) {
            plan.split = choice.split;
            plan.interval = first_interval;
            plan.steps_to_probe = plan.interval;
            plan.split_excess_ns = 0;
        } else {
            lost(took - kept);
        }
    } else if (plan.split) {
        // What the split steps took beyond one thread's time, less what later ones saved: it
        // grows when another process has taken a core, and the split ends when it exceeds two
        // one-thread steps (at least excess_limit_ns). A single slow step, more often an
        // interruption than a change, is soon made up.
        plan.split_excess_ns =
            std::max<std::int64_t>(plan.split_excess_ns + took - plan.one_thread_ns, 0);
        if (plan.split_excess_ns > std::max(2 * plan.one_thread_ns, excess_limit_ns)) {
            plan.split = false;
            lost(plan.split_excess_ns);
        }
    }
    plan.warm_up_loss_ns = 0;
}

void icn_step(FieldSet& fields, const RunParameters& params, step_threads& plan) {
    if (!plan.timed) {
        icn_step_sweep(fields, params, plan.method, plan.split ? plan.threads : 1,
                       part_order::threads);
        return;
    }
    const step_choice choice = choose_step(plan, clock_ns(), processor_free);
    if (choice.release) release_threads();
    const std::int64_t start = clock_ns();
    icn_step_sweep(fields, params, plan.method, choice.split ? plan.threads : 1,
                   part_order::threads);
    const std::int64_t end = clock_ns();
    record_step(plan, choice, end - start, end);
}

int setup_threads(const step_threads& plan) {
    return plan.setup_threaded || plan.split ? plan.threads : 1;
}

int output_threads(const step_threads& plan) {
    return plan.split ? plan.threads : 1;
}

int most_output_threads(const step_threads& plan) {
    return plan.timed || plan.split ? plan.threads : 1;
}
