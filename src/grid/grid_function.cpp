#include "grid/grid_function.hpp"

#include <sys/mman.h>

#include <cmath>
#include <cstdlib>

void grid_storage_deleter::operator()(double* p) const noexcept {
    if (mapped_bytes > 0) {
        ::munmap(p, mapped_bytes);
    } else {
        std::free(p);
    }
}

bool all_finite(const GridFunction& f) {
    const double* v = f.data();
    for (std::size_t k = 0; k < f.size(); ++k) {
        if (!std::isfinite(v[k])) return false;
    }
    return true;
}
