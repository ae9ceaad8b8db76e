#include "grid/initial_data.hpp"

#include <cmath>
#include <cstdint>

void set_initial_data(const RunParameters& params, FieldSet& fields) {
    const std::int32_t nx = params.nx;
    const double w2 = params.width * params.width;
    const GridFunction& x = fields.x;

    // Gaussian pulse: amplitude * exp(-((d*d) / w2)).
    GridFunction& phi = fields.phi;
    for (std::int32_t i = 0; i <= nx; ++i) {
        const double d = x[i] - params.center;
        phi[i] = params.amplitude * std::exp(-((d * d) / w2));
    }

    // Its derivative from the phi just computed: -(((2*d) * phi) / w2).
    GridFunction& psi = fields.psi;
    for (std::int32_t i = 0; i <= nx; ++i) {
        const double d = x[i] - params.center;
        psi[i] = -(((d + d) * phi[i]) / w2);
    }

    GridFunction& pi = fields.pi;
    for (std::int32_t i = 0; i <= nx; ++i) {
        pi[i] = 0.0;
    }

    // Lapse: constant, or a smooth step from 0.5 to 1 centred at x = 0.
    GridFunction& alpha = fields.alpha;
    for (std::int32_t i = 0; i <= nx; ++i) {
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
    for (std::int32_t i = 0; i <= nx; ++i) {
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
