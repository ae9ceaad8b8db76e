#include "sweep/step_layout.hpp"

#include <algorithm>

#include "common/clock.hpp"

namespace {

void add_range(laid_out_ranges& laid, std::int64_t first, std::int64_t points, int method,
               int part) {
    const int i = laid.ranges.count++;
    laid.ranges.first[i] = first;
    laid.ranges.points[i] = points;
    laid.method_of[i] = method;
    laid.part_of[i] = part;
}

// The ranges of part `part`, one after another; timed into `timing` when it is given.
void sweep_part(const laid_out_ranges& laid, int part,
                const sweep_method (&methods)[1 + max_samples], const sweep_step& step,
                FieldSet& fields, sample_timing* timing) {
    for (int i = 0; i < laid.ranges.count; ++i) {
        if (laid.part_of[i] != part) continue;
        const int slot = laid.method_of[i];
        const std::int64_t start = timing != nullptr ? clock_ns() : 0;
        sweep_range(step, fields, laid.ranges.first[i], laid.ranges.points[i], methods[slot]);
        if (timing != nullptr) {
            timing->ns[slot] += clock_ns() - start;
            timing->points[slot] += laid.ranges.points[i];
        }
    }
}

}  // namespace

laid_out_ranges lay_out(const step_middle& middle, const step_layout& layout) {
    const std::int64_t block = middle.block;
    const std::int64_t blocks = middle.blocks;
    const std::int64_t gap = (gap_points + block - 1) / block;  // in blocks
    laid_out_ranges laid;
    if (blocks == 0) return laid;
    constexpr int max_parts = max_ranges - 2 - 2 * max_samples;
    std::int64_t count = std::clamp(layout.parts, 1, max_parts);
    while (count > 1 && blocks < count + (count - 1) * gap) {
        --count;
    }
    laid.parts = static_cast<int>(count);
    const std::int64_t usable = blocks - (count - 1) * gap;
    const std::int64_t sample_blocks =
        std::max<std::int64_t>((layout.sample_points + block - 1) / block, 1);
    std::int64_t at = middle.first;
    for (std::int64_t k = 0; k < count; ++k) {
        const std::int64_t part_blocks = usable / count + (k < usable % count ? 1 : 0);
        const int part = static_cast<int>(k);
        // The first part: the layout's method, the samples, the method again, with gaps between;
        // the samples take at most half of it and begin sample_offset points in.
        std::int64_t samples = k == 0 ? std::clamp(layout.samples, 0, max_samples) : 0;
        while (samples > 0 && (samples * sample_blocks > part_blocks / 2 ||
                               part_blocks - samples * sample_blocks - (samples + 1) * gap < 2)) {
            --samples;
        }
        if (samples == 0) {
            add_range(laid, at, part_blocks * block, 0, part);
        } else {
            const std::int64_t free_blocks =
                part_blocks - samples * sample_blocks - (samples + 1) * gap;
            const std::int64_t before =
                1 + (std::max<std::int64_t>(layout.sample_offset, 0) / block) % (free_blocks - 1);
            std::int64_t range_at = at;
            add_range(laid, range_at, before * block, 0, part);
            range_at += (before + gap) * block;
            for (std::int64_t n = 0; n < samples; ++n) {
                add_range(laid, range_at, sample_blocks * block, static_cast<int>(1 + n), part);
                range_at += (sample_blocks + gap) * block;
            }
            add_range(laid, range_at, (free_blocks - before) * block, 0, part);
            laid.samples = static_cast<int>(samples);
        }
        at += (part_blocks + gap) * block;
    }
    return laid;
}

void make_step(FieldSet& fields, const RunParameters& params, const step_layout& layout,
               sample_timing* timing) {
    sweep_method methods[1 + max_samples];
    methods[0] = layout.method;
    std::int64_t block = vector_points(layout.method.isa);
    const int samples = std::clamp(layout.samples, 0, max_samples);
    for (int k = 0; k < samples; ++k) {
        methods[1 + k] = layout.sample_method[k];
        block = std::max(block, vector_points(methods[1 + k].isa));
    }
    const laid_out_ranges laid = lay_out(middle_of(fields, params.nx, block), layout);
    const sweep_step step = begin_step(fields, params, laid.ranges);
    if (timing != nullptr) *timing = {};
    sample_timing* const first_part_timing = laid.samples > 0 ? timing : nullptr;
    if (laid.parts > 1) {
#if defined(_OPENMP)
#pragma omp parallel for num_threads(laid.parts) schedule(static, 1)
#endif
        for (int k = 0; k < laid.parts; ++k) {
            sweep_part(laid, k, methods, step, fields, k == 0 ? first_part_timing : nullptr);
        }
    } else if (laid.parts == 1) {
        sweep_part(laid, 0, methods, step, fields, first_part_timing);
    }
    end_step(fields, step, laid.ranges);
}
