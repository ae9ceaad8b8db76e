#include "run/run_driver.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "common/clock.hpp"
#include "common/run_failure.hpp"
#include "evolution/norms.hpp"
#include "grid/grid.hpp"
#include "grid/initial_data.hpp"
#include "output/console.hpp"
#include "output/console_report.hpp"
#include "output/norms_file.hpp"
#include "output/profile_files.hpp"
#include "run/command_line.hpp"
#include "run/interrupts.hpp"
#include "run/parameter_input.hpp"
#include "run/progress_line.hpp"
#include "run/run_warnings.hpp"
#include "sweep/step_plan.hpp"
#include "sweep/threads.hpp"

namespace {

// An output step comes every |every_1D| steps; every_1D of 0 means none after time zero.
bool is_output_step(std::int32_t step, std::int32_t every_1D) {
    return every_1D != 0 && step % every_1D == 0;
}

// Output is written out at the end of an output step once this long has passed since the last
// time, so that whoever watches the console or the files is at most about this far behind;
// in between, the buffers fill as usual.
constexpr std::chrono::seconds write_out_interval{1};

// Writes out the profile files and norms.tsv. Only once all of them are written out do they end
// on this output step, the one each is cut back to when a later write fails (cut_back_after).
void write_out_files(ProfileFiles& files, std::optional<NormsFile>& norms) {
    flush_profile_files(files);
    if (norms) flush_norms_file(*norms);
    files.xl.whole = files.xl.written;
    files.xtl.whole = files.xtl.written;
    if (norms) norms->file.whole = norms->file.written;
}

// The files first, so that a table row on the console has its blocks and norms in them.
void write_out(ProfileFiles& files, std::optional<NormsFile>& norms, std::FILE* out) {
    write_out_files(files, norms);
    flush_console(out);
}

// After an output file could not be written: every one is cut back to the last write-out, so
// that all end on the same whole output step.
void cut_back_after(const run_failure& failure, ProfileFiles& files,
                    std::optional<NormsFile>& norms) {
    if (failure.status != exit_output || failure.console_error != 0) return;
    cut_back(files.xl);
    cut_back(files.xtl);
    if (norms) cut_back(norms->file);
}

// The row of norms.tsv at this output time, when the run writes one.
void write_norms(std::optional<NormsFile>& norms, double time, const FieldSet& fields,
                 const RunParameters& params) {
    if (norms) write_norms_row(*norms, time, measure_norms(fields, params.nx, params.dx));
}

// Stops the run for an interrupt: the files are written out up to the last whole output step,
// then the console, unless it has stopped taking output (a pipe nobody reads): a write to it
// that blocks is cut short, and the rows it has not taken are dropped.
[[noreturn]] void stop_for_interrupt(int signal, ProfileFiles& files,
                                     std::optional<NormsFile>& norms, std::FILE* out,
                                     bool console_stalled, double time, std::int32_t steps,
                                     double output_time) {
    write_out_files(files, norms);
    if (!console_stalled) {
        cut_blocking_writes();
        try {
            flush_console(out);
        } catch (const run_failure& failure) {
            if (failure.console_error != EINTR) throw;
            console_stalled = true;
        }
    }
    if (console_stalled) discard_console(out);
    stop_interrupted(signal, time, steps, output_time, norms.has_value());
}

}  // namespace

void run_wave1d(std::istream& in, std::FILE* out, std::FILE* err, bool with_norms) {
    const forced_step forced = forced_step_from_environment();
    std::fputs(forced.warning.c_str(), err);
    RunParameters params = read_parameters(in, out, err);
    FieldSet fields = create_grid(params);
    print_grid_summary(params, out);
    const int threads = available_threads();
    const bool fixed = threads_fixed();
    step_plan plan =
        plan_steps(params, forced, threads, fixed, threads > 1 && !fixed && processor_free());
    // Every thread of the run is checked here, before any file is opened, or the run takes one.
    if (const int error = start_threads(most_work_threads(plan), work_threads(plan) > 1)) {
        std::fprintf(err,
                     "wave1d: warning: %d threads cannot start (%s); the run goes on one thread\n",
                     most_work_threads(plan), std::strerror(error));
        plan = plan_steps(params, forced, 1, fixed, false);
    }
    set_initial_data(params, fields, work_threads(plan));
    print_table_header(out);
    print_table_row(0.0, fields.phi, out);
    warn_before_first_step(params, fields, out, err);
    phi_finite_watch watch;
    warn_if_phi_not_finite(watch, 0.0, fields.phi, out, err);

    interrupt_guard interrupts;
    ProfileFiles files = open_profile_files(most_work_threads(plan));
    std::optional<NormsFile> norms;
    if (with_norms) norms.emplace(open_norms_file());
    record_interrupts(interrupts);
    double time = 0.0;
    double output_time = time;
    std::int32_t step = 0;
    progress_line progress;
    // A console write cut short (EINTR) after an interrupt means the console has stalled.
    try {
        write_initial_profile(files, time, fields.x, fields.phi, work_threads(plan));
        write_norms(norms, time, fields, params);
        write_out(files, norms, out);
        auto last_write_out = std::chrono::steady_clock::now();
        start_progress(progress, err, params.nt, clock_ns());

        // The counter stops at nt itself, so nt = 2147483647 never steps past the 32-bit range.
        // time grows by repeated addition, never as step*dt.
        if (params.nt >= 1) {
            for (step = 1;; ++step) {
                time = time + params.dt;
                make_planned_step(fields, params, plan);
                if (progress_wanted(progress)) {
                    const std::int64_t start = plan.state.last_start_ns;
                    show_progress(progress, step, time, start != 0 ? start : clock_ns());
                }
                if (is_output_step(step, params.every_1D)) {
                    erase_progress(progress);
                    print_table_row(time, fields.phi, out);
                    warn_if_phi_not_finite(watch, time, fields.phi, out, err);
                    write_profile(files, time, fields.x, fields.phi, work_threads(plan));
                    write_norms(norms, time, fields, params);
                    output_time = time;
                    const auto now = std::chrono::steady_clock::now();
                    if (now - last_write_out >= write_out_interval) {
                        write_out(files, norms, out);
                        last_write_out = now;
                    }
                }
                if (step == params.nt) break;
                if (const int signal = received_interrupt()) {
                    stop_for_interrupt(signal, files, norms, out, false, time, step, output_time);
                }
            }
        }

        erase_progress(progress);
        print_closing_rule(out);
        release_fields(fields);
        write_out_files(files, norms);
        close_profile_files(files);
        if (norms) close_norms_file(*norms);
        flush_console(out);
    } catch (const run_failure& failure) {
        const int signal = received_interrupt();
        if (signal != 0 && failure.console_error == EINTR) {
            try {
                stop_for_interrupt(signal, files, norms, out, true, time, step, output_time);
            } catch (const run_failure& stop) {
                cut_back_after(stop, files, norms);
                throw;
            }
        }
        cut_back_after(failure, files, norms);
        throw;
    }
}
