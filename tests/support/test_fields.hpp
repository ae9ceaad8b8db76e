#pragma once

#include <cstdint>
#include <initializer_list>

#include "common/run_parameters.hpp"
#include "grid/field_set.hpp"

// Parameters for a grid of nx intervals on [xmin, xmax] with the given Courant factor.
RunParameters grid_parameters(std::int32_t nx, double xmin, double xmax, double courant);

// A FieldSet created the way the program creates it, for the given parameters.
FieldSet make_fields(RunParameters& params);

// Sets every point of f to value.
void fill(GridFunction& f, double value);

// Sets f point by point from the listed values (as many as f has points).
void assign(GridFunction& f, std::initializer_list<double> values);
