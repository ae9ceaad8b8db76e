#pragma once

#include <cstdint>

// The number of bytes this process can hold: physical memory plus swap, or the room left under
// the memory limit of its control group or of any group above it (v1 or v2; each limit less the
// memory already charged to its group), or the memory available now plus the free swap,
// whichever is smallest. A
// grid larger than the memory available now would be killed half-way through by the kernel's
// out-of-memory killer once its pages are used, so it is refused up front instead. Returns 0
// when nothing could be found out, which callers take as "unknown".
std::uint64_t memory_capacity_bytes();
