#pragma once

#include <cstdio>
#include <string_view>

#include "common/run_parameters.hpp"
#include "grid/grid_function.hpp"

// The largest value of f that is not NaN, scanning 0..nx in order and replacing the running
// maximum only by a strictly greater value. NaN when every point is NaN, and the most negative
// finite double when f has no points.
double maxval(const GridFunction& f);

// v in the shortest form that reads back as the same double, as the summary lines write it;
// NaN and infinities as "NaN", "Infinity" and "-Infinity". The text is in buffer or a literal.
std::string_view summary_number(double v, char (&buffer)[64]);

// Six lines " label value" for xmin, xmax, center, dx, dt and dt/dx. Each number is written in
// the shortest form that reads back as the same double; NaN and infinities as "NaN",
// "Infinity" and "-Infinity".
void print_grid_summary(const RunParameters& params, std::FILE* out = stdout);

// The three header lines of the progress table.
void print_table_header(std::FILE* out = stdout);

// One row: the time and maxval(phi), each as format_sci(value, 9, 2), between the table's bars.
void print_table_row(double time, const GridFunction& phi, std::FILE* out = stdout);

// The rule under the table.
void print_closing_rule(std::FILE* out = stdout);
