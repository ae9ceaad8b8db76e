#pragma once

#include "grid/grid_function.hpp"

// The system carries two characteristic variables: pi + psi travels at speed -(alpha + beta)
// and pi - psi at speed alpha - beta. These helpers tell how fast and which way they go.

// The largest characteristic speed on the grid: the maximum over the points of
// max(|alpha - beta|, |alpha + beta|). Points where that is NaN are left out; 0 when no point
// gives a number. The iterated Crank-Nicolson step is stable for |courant| times this up to 2.
double largest_characteristic_speed(const GridFunction& alpha, const GridFunction& beta);

// True when |beta| > alpha: both characteristic variables travel the same way at this point,
// so an outgoing condition, which lets one leave and sets the other to zero, cannot hold there.
// Equality is no fault (one of them stands still), and NaN gives false.
bool characteristics_travel_together(double alpha, double beta);
