#include "sweep/forced_step.hpp"

std::optional<forced_step> parse_forced_step(std::string_view value) {
    forced_step forced;
    for (sweep_isa isa : {sweep_isa::sse2, sweep_isa::avx2, sweep_isa::avx512}) {
        for (sweep_division division :
             {sweep_division::divider, sweep_division::first, sweep_division::all}) {
            // SSE2 has only the divider.
            if (isa == sweep_isa::sse2 && division != sweep_division::divider) continue;
            if (sweep_method_name({isa, division}) == value) {
                forced.method = {isa, division};
                forced.set = true;
            }
        }
    }
    if (!forced.set) return std::nullopt;
    if (sweep_method_supported(forced.method)) return forced;
    // The nearest kernel the processor has: the widest instruction set at most as wide as the
    // one asked for (sweep_isa lists them narrowest first), with the same division where it has
    // it and the divider otherwise.
    const sweep_method asked = forced.method;
    for (sweep_isa isa : {sweep_isa::avx512, sweep_isa::avx2, sweep_isa::sse2}) {
        if (isa > asked.isa || !sweep_method_supported({isa, sweep_division::divider})) continue;
        forced.method = {isa, asked.division};
        if (!sweep_method_supported(forced.method))
            forced.method.division = sweep_division::divider;
        break;
    }
    forced.warning = "wave1d: warning: WAVE1D_STEP=" + sweep_method_name(asked) +
                     " is not available on this processor; the steps run " +
                     sweep_method_name(forced.method) + "\n";
    return forced;
}
