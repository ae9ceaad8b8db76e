#include "run/run_warnings.hpp"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "evolution/boundary_conditions.hpp"
#include "evolution/characteristic_speeds.hpp"
#include "output/console.hpp"
#include "output/console_report.hpp"

namespace {

constexpr std::string_view warning_prefix = "wave1d: warning: ";

}  // namespace

void write_warning(std::FILE* out, std::FILE* err, std::initializer_list<std::string_view> parts) {
    flush_console(out);
    char line[1024];
    std::size_t n = 0;
    auto append = [&](std::string_view text) {
        const std::size_t room = sizeof line - 1 - n;
        const std::size_t length = text.size() < room ? text.size() : room;
        std::memcpy(line + n, text.data(), length);
        n += length;
    };
    append(warning_prefix);
    for (const std::string_view part : parts)
        append(part);
    line[n++] = '\n';
    std::fwrite(line, 1, n, err);
    std::fflush(err);
}

namespace {

void warn_unstable_courant(const RunParameters& params, const FieldSet& fields, std::FILE* out,
                           std::FILE* err) {
    if (params.nx < 2) return;
    const double speed = largest_characteristic_speed(fields.alpha, fields.beta);
    if (!(std::fabs(params.courant) * speed > 2.0)) return;
    // 2 / speed never multiplies back to above 2 (2 is a power of two), so the factor named
    // passes this check itself.
    const double stable_courant = 2.0 / speed;
    char courant[64], stable[64], largest[64];
    write_warning(out, err,
                  {"Courant factor ", summary_number(params.courant, courant),
                   " times the largest characteristic speed ", summary_number(speed, largest),
                   " (the largest |alpha - beta| or |alpha + beta|) is above 2; the largest "
                   "stable Courant factor for this lapse and shift is ",
                   summary_number(stable_courant, stable), ", and the run is expected to grow"});
}

void warn_outgoing_end(std::string_view end, std::int32_t i, const FieldSet& fields, std::FILE* out,
                       std::FILE* err) {
    const double alpha = fields.alpha[i];
    const double beta = fields.beta[i];
    if (!characteristics_travel_together(alpha, beta)) return;
    char x_text[64], alpha_text[64], beta_text[64];
    write_warning(out, err,
                  {"the outgoing boundary cannot hold at the ", end,
                   " end (x = ", summary_number(fields.x[i], x_text),
                   "): |beta| > alpha there (beta = ", summary_number(beta, beta_text),
                   ", alpha = ", summary_number(alpha, alpha_text),
                   "), so pi + psi and pi - psi travel the same way; the run is expected to "
                   "grow"});
}

}  // namespace

void warn_before_first_step(const RunParameters& params, const FieldSet& fields, std::FILE* out,
                            std::FILE* err) {
    if (params.nt < 1) return;
    warn_unstable_courant(params, fields, out, err);
    if (params.boundtype == boundary_outgoing && boundary_applies(params.boundtype, params.nx)) {
        warn_outgoing_end("left", 0, fields, out, err);
        warn_outgoing_end("right", params.nx, fields, out, err);
    }
}

void warn_if_phi_not_finite(phi_finite_watch& watch, double time, const GridFunction& phi,
                            std::FILE* out, std::FILE* err) {
    if (watch.reported || all_finite(phi)) return;
    watch.reported = true;
    char time_text[64];
    write_warning(out, err,
                  {"phi is not finite at time ", summary_number(time, time_text),
                   "; phi.xl and phi.xtl write NaN as zero"});
}
