#pragma once

#include "grid/grid_function.hpp"

// The fourteen grid functions of a run, in the order they are created. The _p copies, the rhs_
// arrays and left/right are scratch storage of the evolution, overwritten in every step.
struct FieldSet {
    GridFunction x;  // coordinate of each grid point
    GridFunction phi;
    GridFunction phi_p;
    GridFunction rhs_phi;
    GridFunction psi;
    GridFunction psi_p;
    GridFunction rhs_psi;
    GridFunction pi;
    GridFunction pi_p;
    GridFunction rhs_pi;
    GridFunction alpha;  // lapse, fixed after the initial data
    GridFunction beta;   // shift, fixed after the initial data
    GridFunction left;   // left-going characteristic work array of the outgoing boundary
    GridFunction right;  // right-going characteristic work array of the outgoing boundary
};

inline constexpr int grid_functions_per_field_set = 14;
