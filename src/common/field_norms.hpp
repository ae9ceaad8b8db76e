#pragma once

// The norms of the fields at one time, as the evolution measures them (evolution/norms.hpp)
// and norms.tsv writes them, in the order of its columns.
struct field_norms {
    double max_abs_phi = 0;
    double l2_phi = 0;
    double l2_psi = 0;
    double l2_pi = 0;
    double energy = 0;
    double l2_constraint = 0;
    double max_abs_constraint = 0;
};
