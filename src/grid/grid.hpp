#pragma once

#include <cstdint>

#include "common/run_parameters.hpp"
#include "grid/field_set.hpp"

// Creates the fourteen zero-filled grid functions of nx+1 points (none when nx < 0), sets
// params.dx = (xmax - xmin) / nx, fills x(i) = (i*dx) + xmin and sets params.dt = courant*dx.
// Throws run_failure with exit_overflow when the size cannot be represented, and with
// exit_memory when the grid would not fit in memory or an allocation fails.
FieldSet create_grid(RunParameters& params);

// Gives back the storage of all fourteen grid functions; they are empty afterwards.
void release_fields(FieldSet& fields);

// Number of points of a grid with nx intervals: nx+1, or 0 when nx is negative. Computed in
// 64 bits so that nx = 2147483647 does not overflow.
std::int64_t point_count(std::int32_t nx);
