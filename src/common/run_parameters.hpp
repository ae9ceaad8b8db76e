#pragma once

#include <cstdint>

// The twelve values of the start-up dialogue, in the order they are asked for, plus the grid
// spacing and time step that create_grid derives from them. Nothing here is validated.
struct RunParameters {
    double xmin = 0.0;           // coordinate of grid point 0
    double xmax = 0.0;           // coordinate of grid point nx
    std::int32_t nx = 0;         // number of grid intervals; points 0..nx
    double courant = 0.0;        // dt / dx
    std::int32_t nt = 0;         // number of time steps
    std::int32_t boundtype = 0;  // 1 periodic, 2 outgoing, anything else none
    double amplitude = 0.0;      // height of the initial gaussian
    double width = 0.0;          // width of the initial gaussian
    double center = 0.0;         // position of the initial gaussian
    std::int32_t every_1D = 0;   // output interval in time steps; 0 means no output after t = 0
    std::int32_t lapsetype = 0;  // 0 constant lapse, anything else the tanh lapse
    std::int32_t shifttype = 0;  // 0..4 select the shift; anything else leaves a zero shift

    double dx = 0.0;  // (xmax - xmin) / nx, set by create_grid
    double dt = 0.0;  // courant * dx, set by create_grid
};
