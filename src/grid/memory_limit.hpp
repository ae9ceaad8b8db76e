#pragma once

#include <cstdint>

// The number of bytes this process can hold: physical memory plus swap, or the memory limit of
// its control group, or the memory available now plus the free swap, whichever is smallest. A
// grid larger than the memory available now would be killed half-way through by the kernel's
// out-of-memory killer once its pages are used, so it is refused up front instead. Returns 0
// when nothing could be found out, which callers take as "unknown".
std::uint64_t memory_capacity_bytes();
