#pragma once

#include "common/run_parameters.hpp"
#include "grid/field_set.hpp"

// Sets the state at time zero on every point 0..nx, with w2 = width*width and d = x(i) - center:
//   phi(i)   = amplitude * exp(-((d*d) / w2))
//   psi(i)   = -(((2*d) * phi(i)) / w2)            the exact x-derivative of phi
//   pi(i)    = 0
//   alpha(i) = 1                                    lapsetype 0
//            = 0.25*tanh(10*x(i)) + 0.75            any other lapsetype
//   beta(i)  = 0, 0.5, 1, 1.2 or x(i)               shifttype 0, 1, 2, 3 or 4
// Any other shifttype leaves beta as created: zero, so it acts as a zero shift.
// With threads above 1 (and OpenMP) the points are handed out in chunks over that many threads,
// which also spreads the first touch of the pages; every point gets the same doubles.
void set_initial_data(const RunParameters& params, FieldSet& fields, int threads = 1);
