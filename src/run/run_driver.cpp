#include "run/run_driver.hpp"

#include <cstdint>

#include "evolution/icn_step.hpp"
#include "grid/grid.hpp"
#include "grid/initial_data.hpp"
#include "output/console.hpp"
#include "output/console_report.hpp"
#include "output/profile_files.hpp"
#include "run/parameter_input.hpp"
#include "run/run_warnings.hpp"

namespace {

// An output step comes every |every_1D| steps; every_1D of 0 means none after time zero.
bool is_output_step(std::int32_t step, std::int32_t every_1D) {
    return every_1D != 0 && step % every_1D == 0;
}

}  // namespace

void run_wave1d(std::istream& in, std::FILE* out, std::FILE* err) {
    RunParameters params = read_parameters(in, out);
    FieldSet fields = create_grid(params);
    print_grid_summary(params, out);
    set_initial_data(params, fields);
    print_table_header(out);
    print_table_row(0.0, fields.phi, out);
    warn_before_first_step(params, fields, out, err);
    phi_finite_watch watch;
    warn_if_phi_not_finite(watch, 0.0, fields.phi, out, err);

    ProfileFiles files = open_profile_files();
    double time = 0.0;
    write_initial_profile(files, time, fields.x, fields.phi);

    // The counter stops at nt itself, so nt = 2147483647 never steps past the 32-bit range.
    // time grows by repeated addition, never as step*dt.
    if (params.nt >= 1) {
        for (std::int32_t step = 1;; ++step) {
            time = time + params.dt;
            icn_step(fields, params);
            if (is_output_step(step, params.every_1D)) {
                print_table_row(time, fields.phi, out);
                warn_if_phi_not_finite(watch, time, fields.phi, out, err);
                write_profile(files, time, fields.x, fields.phi);
            }
            if (step == params.nt) break;
        }
    }

    print_closing_rule(out);
    release_fields(fields);
    close_profile_files(files);
    flush_console(out);
}
