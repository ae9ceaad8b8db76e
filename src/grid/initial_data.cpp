#include "grid/initial_data.hpp"

#include <cmath>
#include <cstdint>

namespace {

// Points handed to a thread at a time: large enough to make the hand-out cheap, small enough
// that a thread slowed by another process takes fewer of them.
constexpr std::int32_t setup_chunk_points = 16384;

// The initial data of the points first..last.
void set_points(const RunParameters& params, FieldSet& fields, std::int32_t first,
                std::int32_t last) {
    const double w2 = params.width * params.width;
    const GridFunction& x = fields.x;

    // Gaussian pulse: amplitude * exp(-((d*d) / w2)).
    GridFunction& phi = fields.phi;
    for (std::int32_t i = first; i <= last; ++i) {
        const double d = x[i] - params.center;
        phi[i] = params.amplitude * std::exp(-((d * d) / w2));
    }

    // Its derivative from the phi just computed: -(((2*d) * phi) / w2).
    GridFunction& psi = fields.psi;
    for (std::int32_t i = first; i <= last; ++i) {
        const double d = x[i] - params.center;
        psi[i] = -(((d + d) * phi[i]) / w2);
    }

    GridFunction& pi = fields.pi;
    for (std::int32_t i = first; i <= last; ++i) {
        pi[i] = 0.0;
    }

    // Lapse: constant, or a smooth step from 0.5 to 1 centred at x = 0.
    GridFunction& alpha = fields.alpha;
    for (std::int32_t i = first; i <= last; ++i) {
        if (params.lapsetype == 0) {
            alpha[i] = 1.0;
        } else {
            const double ten_x = 10.0 * x[i];
            alpha[i] = (0.25 * std::tanh(ten_x)) + 0.75;
        }
    }

    // Shift: a constant, or a copy of the coordinate. Other types keep the zero-filled beta.
    GridFunction& beta = fields.beta;
    const std::int32_t shifttype = params.shifttype;
    if (shifttype < 0 || shifttype > 4) return;
    for (std::int32_t i = first; i <= last; ++i) {
        switch (shifttype) {
            case 0:
                beta[i] = 0.0;
                break;
            case 1:
                beta[i] = 0.5;
                break;
            case 2:
                beta[i] = 1.0;
                break;
            case 3:
                beta[i] = 1.2;
                break;
            default:
                beta[i] = x[i];
                break;
        }
    }
}

}  // namespace

void set_initial_data(const RunParameters& params, FieldSet& fields, int threads) {
    const std::int32_t nx = params.nx;
    if (threads <= 1 || nx < setup_chunk_points) {
        set_points(params, fields, 0, nx);
        return;
    }
    const std::int32_t chunks = nx / setup_chunk_points + 1;
#if defined(_OPENMP)
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
#endif
    for (std::int32_t c = 0; c < chunks; ++c) {
        const std::int32_t first = c * setup_chunk_points;
        set_points(params, fields, first, c + 1 == chunks ? nx : first + setup_chunk_points - 1);
    }
}
