#include "run/run_driver.hpp"

#include <cstdint>

#include "evolution/icn_step.hpp"
#include "evolution/step_threads.hpp"
#include "grid/grid.hpp"
#include "grid/initial_data.hpp"
#include "output/console.hpp"
#include "output/console_report.hpp"
#include "output/profile_files.hpp"
#include "run/parameter_input.hpp"

namespace {

// An output step comes every |every_1D| steps; every_1D of 0 means none after time zero.
bool is_output_step(std::int32_t step, std::int32_t every_1D) {
    return every_1D != 0 && step % every_1D == 0;
}

}  // namespace

void run_wave1d(std::istream& in, std::FILE* out) {
    RunParameters params = read_parameters(in, out);
    FieldSet fields = create_grid(params);
    print_grid_summary(params, out);
    step_threads threads = plan_step_threads(params);
    set_initial_data(params, fields, setup_threads(threads));
    print_table_header(out);
    print_table_row(0.0, fields.phi, out);

    ProfileFiles files = open_profile_files(setup_threads(threads));
    double time = 0.0;
    write_initial_profile(files, time, fields.x, fields.phi, setup_threads(threads));

    // The counter stops at nt itself, so nt = 2147483647 never steps past the 32-bit range.
    // time grows by repeated addition, never as step*dt.
    if (params.nt >= 1) {
        for (std::int32_t step = 1;; ++step) {
            time = time + params.dt;
            icn_step(fields, params, threads);
            if (is_output_step(step, params.every_1D)) {
                print_table_row(time, fields.phi, out);
                write_profile(files, time, fields.x, fields.phi, output_threads(threads));
            }
            if (step == params.nt) break;
        }
    }

    print_closing_rule(out);
    release_fields(fields);
    close_profile_files(files);
    flush_console(out);
}
