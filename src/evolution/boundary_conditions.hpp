#pragma once

#include <cstdint>

#include "grid/field_set.hpp"

inline constexpr std::int32_t boundary_periodic = 1;
inline constexpr std::int32_t boundary_outgoing = 2;

// The smallest nx each condition can work on; on a smaller grid the condition is skipped, so
// nothing outside 0..nx is ever read or written.
inline constexpr std::int32_t periodic_min_nx = 2;
inline constexpr std::int32_t outgoing_min_nx = 3;

// True when apply_boundaries does anything for this boundtype and grid.
bool boundary_applies(std::int32_t boundtype, std::int32_t nx);

// Sets the end points 0 and nx:
//   1 periodic: phi, psi, pi at 0 from point nx-2, at nx from point 2;
//   2 outgoing: with left = (pi + psi)*0.5 and right = (pi - psi)*0.5 at every point,
//       left(0)   = left(1)*3 - left(2)*3 + left(3),           pi(0)  = psi(0) = left(0),
//       right(nx) = right(nx-1)*3 - right(nx-2)*3 + right(nx-3), pi(nx) = -psi(nx) = right(nx);
//   any other type: nothing.
void apply_boundaries(FieldSet& fields, std::int32_t boundtype, std::int32_t nx);
