#pragma once

#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "common/run_parameters.hpp"
#include "grid/field_set.hpp"

// Warnings about a run whose results cannot be trusted. Each is one line on err beginning
// "wave1d: warning: "; the run itself goes on unchanged. out is flushed before a warning, so
// that in a log holding both streams the warning follows the console lines it concerns.

// One warning: the prefix and parts, as one line written at once, without allocating. The write
// is not checked: a warning is advice, and a failing err is no failure of the run.
void write_warning(std::FILE* out, std::FILE* err, std::initializer_list<std::string_view> parts);

// Before the first step, once the lapse and shift are set. Nothing when the run takes no step
// (nt < 1), since nothing can grow then.
// - The Courant factor is above the stability limit: |courant| times the largest
//   characteristic speed is above 2. Only on a grid with interior points (nx >= 2), where the
//   centred differences couple the points; the warning names the largest stable factor.
// - The outgoing boundary cannot hold: boundtype 2 on a grid it applies to (nx >= 3), with
//   |beta| > alpha at point 0 or point nx; one line for each such end.
// A NaN lapse or shift (from a NaN coordinate) gives no warning here; what it does to phi is
// reported by the check below.
void warn_before_first_step(const RunParameters& params, const FieldSet& fields, std::FILE* out,
                            std::FILE* err);

// Whether phi has already been reported as not finite: that warning comes once per run.
struct phi_finite_watch {
    bool reported = false;
};

// At an output time, time zero included: warns the first time phi holds a NaN or an infinity
// at any grid point, which the table's largest value can hide. Scans nothing once reported.
void warn_if_phi_not_finite(phi_finite_watch& watch, double time, const GridFunction& phi,
                            std::FILE* out, std::FILE* err);
