#pragma once

#include <signal.h>

#include <cstdint>

// SIGINT, SIGTERM and SIGHUP during the time loop: instead of ending the process where it
// stands, the signal is recorded and the driver stops between two steps, with both profile files
// written out up to the last whole output step. Once an interrupt is recorded, a write that
// blocks (a console nobody reads) is cut short within a second: SIGALRM, handled without
// restarting the call, makes it fail with EINTR, so a stalled console never holds up the stop.
//
// A signal that is ignored when recording starts (SIGHUP under nohup, SIGINT in a background job
// of a shell without job control) stays ignored.
struct interrupt_guard {
    struct saved_action {
        int signal = 0;
        bool installed = false;
        struct sigaction previous {};
    };
    saved_action saved[4];  // SIGINT, SIGTERM, SIGHUP, SIGALRM

    interrupt_guard() = default;
    interrupt_guard(const interrupt_guard&) = delete;
    interrupt_guard& operator=(const interrupt_guard&) = delete;
    // Cancels the timer and restores the dispositions that were in force before recording
    // started.
    ~interrupt_guard();
};

// Starts recording. The first interrupt is recorded and puts the previous dispositions of all
// three interrupt signals back, so that a second one, while the output is being written out,
// ends the process at once. Only one guard records at a time.
void record_interrupts(interrupt_guard& guard);

// The first of SIGINT, SIGTERM, SIGHUP received since recording started, or 0.
int received_interrupt();

// After an interrupt: a write that blocks from now on fails with EINTR within a second.
void cut_blocking_writes();

// Throws run_failure with status 128 + signal and the line "wave1d: interrupted at time T after
// N steps; phi.xl and phi.xtl hold the output steps up to time T0" (with_norms: "phi.xl, phi.xtl
// and norms.tsv hold"), the times written as in the time lines of phi.xl. Called once the output
// up to output_time has been written out.
[[noreturn]] void stop_interrupted(int signal, double time, std::int32_t steps, double output_time,
                                   bool with_norms = false);
