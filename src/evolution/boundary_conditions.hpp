#pragma once

#include <cstdint>

#include "evolution/point_formulas.hpp"
#include "grid/field_set.hpp"

inline constexpr std::int32_t boundary_periodic = 1;
inline constexpr std::int32_t boundary_outgoing = 2;

// The smallest nx each condition can work on; on a smaller grid the condition is skipped, so
// nothing outside 0..nx is ever read or written.
inline constexpr std::int32_t periodic_min_nx = 2;
inline constexpr std::int32_t outgoing_min_nx = 3;

// True when apply_boundaries does anything for this boundtype and grid.
bool boundary_applies(std::int32_t boundtype, std::int32_t nx);

// psi and pi at one point.
struct point_value {
    double psi;
    double pi;
};

// psi and pi at the end points 0 and nx.
struct end_values {
    point_value first;
    point_value last;
};

// The points whose values the periodic condition gives to points 0 and nx.
inline std::int32_t periodic_source_of_first(std::int32_t nx) {
    return nx - 2;
}
inline constexpr std::int32_t periodic_source_of_last = 2;

// The end values of psi and pi that the condition sets, from the fields as it finds them:
// at(k) gives psi and pi at point k (points 1..3 and nx-3..nx-1 are read, and for a periodic
// grid of nx 2 the end points themselves). The only place where they are worked out; for a
// boundtype and grid where boundary_applies is false they are `unchanged`.
//   1 periodic: point 0 takes point nx-2, point nx takes point 2;
//   2 outgoing: with left = (pi + psi)*0.5 and right = (pi - psi)*0.5,
//       left(0)   = left(1)*3 - left(2)*3 + left(3),             pi(0)  = psi(0) = left(0),
//       right(nx) = right(nx-1)*3 - right(nx-2)*3 + right(nx-3), pi(nx) = -psi(nx) = right(nx).
template <class Values>
end_values boundary_ends(std::int32_t boundtype, std::int32_t nx, const end_values& unchanged,
                         const Values& at) {
    if (!boundary_applies(boundtype, nx)) return unchanged;
    if (boundtype == boundary_periodic) {
        return {at(periodic_source_of_first(nx)), at(periodic_source_of_last)};
    }
    auto left = [&](std::int32_t k) { return left_going(at(k).psi, at(k).pi); };
    auto right = [&](std::int32_t k) { return right_going(at(k).psi, at(k).pi); };
    const double first = parabola_end(left(1), left(2), left(3));
    const double last = parabola_end(right(nx - 1), right(nx - 2), right(nx - 3));
    return {{first, first}, {-last, last}};
}

// Sets the end points 0 and nx of psi and pi to boundary_ends. The periodic condition also
// copies phi the same way (the update of the step overwrites it before anything reads it); the
// outgoing one fills its work arrays, left and right, at every point, left(0) and right(nx)
// with the values it extrapolates. Any other boundtype: nothing.
void apply_boundaries(FieldSet& fields, std::int32_t boundtype, std::int32_t nx);
