#pragma once

#include <cstdint>

// The number of bytes this process can hold at most: physical memory plus swap, or the memory
// limit of its control group where that is smaller. Returns 0 when nothing could be found out,
// which callers take as "unknown".
std::uint64_t memory_capacity_bytes();
