#include "grid/memory_limit.hpp"

#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace {

// Reads a control-group limit file: a byte count, or "max" (v2) / a huge value (v1) for none.
// Returns 0 when the file is missing or sets no limit.
std::uint64_t read_cgroup_limit(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text) || text == "max") return 0;
    try {
        const unsigned long long value = std::stoull(text);
        // cgroup v1 reports "no limit" as the largest page-aligned 63-bit value.
        if (value >= (1ULL << 62)) return 0;
        return value;
    } catch (...) {
        return 0;
    }
}

// The paths of this process's own memory control group, v2 and v1, from /proc/self/cgroup.
void own_cgroup_paths(std::string& v2, std::string& v1) {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("0::", 0) == 0) {
            v2 = line.substr(3);
        } else {
            const auto first = line.find(':');
            const auto second = line.find(':', first + 1);
            if (first == std::string::npos || second == std::string::npos) continue;
            const std::string controllers = line.substr(first + 1, second - first - 1);
            if (controllers == "memory" || controllers.find("memory,") != std::string::npos ||
                controllers.find(",memory") != std::string::npos) {
                v1 = line.substr(second + 1);
            }
        }
    }
}

// Memory that can be had now without killing anything: MemAvailable (free memory plus what the
// kernel can reclaim) and the free swap, from /proc/meminfo. 0 when that cannot be read.
std::uint64_t available_now() {
    std::ifstream in("/proc/meminfo");
    std::string key;
    std::uint64_t kilobytes = 0;
    std::string unit;
    std::uint64_t available = 0;
    std::uint64_t swap_free = 0;
    bool found = false;
    while (in >> key >> kilobytes) {
        std::getline(in, unit);
        if (key == "MemAvailable:") {
            available = kilobytes * 1024;
            found = true;
        } else if (key == "SwapFree:") {
            swap_free = kilobytes * 1024;
        }
    }
    return found ? available + swap_free : 0;
}

std::uint64_t smallest_nonzero(std::uint64_t a, std::uint64_t b) {
    if (a == 0) return b;
    if (b == 0) return a;
    return std::min(a, b);
}

}  // namespace

std::uint64_t memory_capacity_bytes() {
    std::uint64_t machine = 0;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page_size > 0) {
        machine = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
        struct sysinfo info {};
        if (sysinfo(&info) == 0) {
            machine += static_cast<std::uint64_t>(info.totalswap) * info.mem_unit;
        }
    }

    std::string v2;
    std::string v1;
    own_cgroup_paths(v2, v1);
    std::uint64_t group = 0;
    for (const std::string& path :
         {std::string("/sys/fs/cgroup/memory.max"), "/sys/fs/cgroup" + v2 + "/memory.max",
          std::string("/sys/fs/cgroup/memory/memory.limit_in_bytes"),
          "/sys/fs/cgroup/memory" + v1 + "/memory.limit_in_bytes"}) {
        group = smallest_nonzero(group, read_cgroup_limit(path));
    }
    return smallest_nonzero(smallest_nonzero(machine, available_now()), group);
}
