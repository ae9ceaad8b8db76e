#include "run/interrupts.hpp"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <string>

#include "common/run_failure.hpp"
#include "output/format_sci.hpp"

namespace {

constexpr int recorded_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGALRM};
constexpr std::size_t interrupt_count = 3;  // the first three of recorded_signals
constexpr std::size_t timer_index = 3;

// How long a write may block after an interrupt before it is cut short.
constexpr unsigned blocking_write_seconds = 1;

// Set by the handlers, read by the time loop between steps. Lock-free atomics are safe to use in
// a signal handler, also when it runs on another thread than the loop.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> first_interrupt{0};

// The guard that is recording, for the handler to put the previous dispositions back.
std::atomic<interrupt_guard*> recording{nullptr};

void restore(const interrupt_guard::saved_action& action) {
    if (action.installed) sigaction(action.signal, &action.previous, nullptr);
}

extern "C" void record_interrupt(int signal) {
    const int saved_errno = errno;
    int none = 0;
    first_interrupt.compare_exchange_strong(none, signal);
    if (const interrupt_guard* guard = recording.load()) {
        for (std::size_t k = 0; k < interrupt_count; ++k)
            restore(guard->saved[k]);
    }
    alarm(blocking_write_seconds);
    errno = saved_errno;
}

// Does nothing: its only work is to end a blocked write with EINTR.
extern "C" void cut_write(int) {}

bool is_ignored(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

// The time as the time lines of phi.xl write it, without the leading blanks.
std::string time_text(double time) {
    char field[14];
    format_sci_into(field, time, 14, 6);
    std::size_t start = 0;
    while (start < sizeof field && field[start] == ' ')
        ++start;
    return std::string(field + start, sizeof field - start);
}

}  // namespace

void record_interrupts(interrupt_guard& guard) {
    first_interrupt.store(0);

    // No recorded signal is delivered to this thread while the handlers go in, so the first
    // interrupt always finds every one of them installed.
    sigset_t blocked;
    sigset_t previous_mask;
    sigemptyset(&blocked);
    for (const int signal : recorded_signals)
        sigaddset(&blocked, signal);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous_mask);

    for (std::size_t k = 0; k < std::size(recorded_signals); ++k) {
        interrupt_guard::saved_action& action = guard.saved[k];
        action.signal = recorded_signals[k];
        // An ignored interrupt stays ignored; the timer's signal is always taken over.
        action.installed = sigaction(action.signal, nullptr, &action.previous) == 0 &&
                           (k == timer_index || !is_ignored(action.previous));
    }
    recording.store(&guard);
    for (std::size_t k = 0; k < std::size(recorded_signals); ++k) {
        interrupt_guard::saved_action& action = guard.saved[k];
        if (!action.installed) continue;
        struct sigaction handler {};
        handler.sa_handler = k == timer_index ? cut_write : record_interrupt;
        handler.sa_mask = blocked;
        // No SA_RESTART: a write to a console that has stopped taking output (a pipe nobody
        // reads) fails with EINTR instead of holding up the stop.
        handler.sa_flags = 0;
        if (sigaction(action.signal, &handler, nullptr) != 0) action.installed = false;
    }

    pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
}

interrupt_guard::~interrupt_guard() {
    if (recording.load() != this) return;
    alarm(0);
    for (const saved_action& action : saved)
        restore(action);
    recording.store(nullptr);
}

int received_interrupt() {
    return first_interrupt.load(std::memory_order_relaxed);
}

void cut_blocking_writes() {
    alarm(blocking_write_seconds);
}

void stop_interrupted(int signal, double time, std::int32_t steps, double output_time,
                      bool with_norms) {
    throw run_failure{
        128 + signal,
        "wave1d: interrupted at time " + time_text(time) + " after " + std::to_string(steps) +
            (steps == 1 ? " step" : " steps") +
            (with_norms ? "; phi.xl, phi.xtl and norms.tsv" : "; phi.xl and phi.xtl") +
            " hold the output steps up to time " + time_text(output_time)};
}
