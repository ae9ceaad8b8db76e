#include "support/test_fields.hpp"

#include <cstddef>

#include "grid/grid.hpp"

RunParameters grid_parameters(std::int32_t nx, double xmin, double xmax, double courant) {
    RunParameters params;
    params.nx = nx;
    params.xmin = xmin;
    params.xmax = xmax;
    params.courant = courant;
    return params;
}

FieldSet make_fields(RunParameters& params) {
    return create_grid(params);
}

void fill(GridFunction& f, double value) {
    for (std::size_t k = 0; k < f.size(); ++k)
        f.data()[k] = value;
}

void assign(GridFunction& f, std::initializer_list<double> values) {
    std::size_t k = 0;
    for (double v : values) {
        if (k < f.size()) f.data()[k] = v;
        ++k;
    }
}
