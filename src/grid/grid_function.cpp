#include "grid/grid_function.hpp"

#include <cmath>

bool all_finite(const GridFunction& f) {
    const double* v = f.data();
    for (std::size_t k = 0; k < f.size(); ++k) {
        if (!std::isfinite(v[k])) return false;
    }
    return true;
}
