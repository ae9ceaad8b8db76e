#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/run_parameters.hpp"

// The twelve values of the start-up dialogue, declared once: the dialogue asks for them in this
// order with these prompts, and --help and the manual page list them from here.
enum class value_type { real, integer };

struct input_value {
    std::string_view name;    // the field of RunParameters, as users and messages name it
    value_type type;          // real: a double; integer: 32 bits, signed
    std::string_view prompt;  // the prompt line of the dialogue, without its leading blank
    std::string_view meaning;
    std::string_view choices;  // the values that choose a treatment, and what unusual ones do
    double RunParameters::*real_field = nullptr;
    std::int32_t RunParameters::*integer_field = nullptr;
};

inline constexpr std::array<input_value, 12> input_values{{
    {"xmin", value_type::real, "The left end of the spatial domain",
     "left end of the domain (coordinate of point 0)", "", &RunParameters::xmin},
    {"xmax", value_type::real, "The right end of the spatial domain",
     "right end of the domain (coordinate of point nx)", "equal to xmin: dx = 0",
     &RunParameters::xmax},
    {"nx", value_type::integer, "Number of points in the spatial domain",
     "number of grid intervals; points 0..nx",
     "0: one point; negative: no point; 2147483647: refused", nullptr, &RunParameters::nx},
    {"courant", value_type::real, "Courant factor", "Courant factor dt/dx",
     "stable up to 2 divided by the largest |alpha - beta| or |alpha + beta| on the grid "
     "(2 for lapse 1 and shift 0)",
     &RunParameters::courant},
    {"nt", value_type::integer, "Number of iterations", "number of time steps", "0 or less: none",
     nullptr, &RunParameters::nt},
    {"boundtype", value_type::integer, "Type of boundary condition", "boundary condition",
     "1 periodic (nx >= 2), 2 outgoing (nx >= 3), anything else none", nullptr,
     &RunParameters::boundtype},
    {"amplitude", value_type::real, "Aplitude of the gaussian", "height of the initial gaussian",
     "", &RunParameters::amplitude},
    {"width", value_type::real, "Width of the initial gaussian", "width of the initial gaussian",
     "negative: as its magnitude", &RunParameters::width},
    {"center", value_type::real, "Center of the gaussian", "position of the initial gaussian", "",
     &RunParameters::center},
    {"every_1D", value_type::integer, "every_1D", "output interval in steps",
     "0: time zero only; negative: as its magnitude", nullptr, &RunParameters::every_1D},
    {"lapsetype", value_type::integer, "lapsetype", "lapse alpha",
     "0: 1; anything else: 0.25*tanh(10x) + 0.75", nullptr, &RunParameters::lapsetype},
    {"shifttype", value_type::integer, "shifttype", "shift beta",
     "0, 1, 2, 3: 0, 0.5, 1, 1.2; 4: x; anything else: 0", nullptr, &RunParameters::shifttype},
}};
