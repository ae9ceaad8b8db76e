#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sweep/sweep.hpp"

// The kernel that WAVE1D_STEP forces, as ISA:DIVISION.
struct forced_step {
    bool set = false;     // a kernel is forced
    sweep_method method;  // the kernel the steps run: the one asked for, or the nearest one the
                          // processor has
    std::string warning;  // when the processor lacks the one asked for, the warning line that
                          // says what runs instead (ending in a line feed); empty otherwise
};

// The values WAVE1D_STEP takes, for a message that lists them.
inline constexpr std::string_view forced_step_values =
    "sse2:divider, avx2:divider, avx2:first, avx2:all, avx512:divider, avx512:first, avx512:all";

// The kernel a value of WAVE1D_STEP names; nothing when it is not one of forced_step_values.
std::optional<forced_step> parse_forced_step(std::string_view value);

// The lines that --help shows for WAVE1D_STEP.
inline constexpr std::string_view forced_step_help =
    "  WAVE1D_STEP=ISA:DIVISION runs every step with one kernel, measuring nothing.\n"
    "  ISA is sse2, avx2 or avx512; DIVISION is divider (the divider instruction),\n"
    "  first (exact division without it in the first iteration) or all (in all\n"
    "  three). sse2 has only divider. A kernel the processor lacks is replaced by\n"
    "  the nearest one it has, with a warning. The threads stay with\n"
    "  OMP_NUM_THREADS. Unset, the program times the kernels and threads itself.\n";
