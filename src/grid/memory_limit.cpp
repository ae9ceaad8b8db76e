#include "grid/memory_limit.hpp"

#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace {

// The first number in a control-group file: a byte count, or 0 when the file is missing or sets
// no limit ("max" in v2, a value near 2^63 in v1).
std::uint64_t read_bytes(const std::string& path) {
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

// The value of key in a control group's memory.stat, or 0.
std::uint64_t stat_value(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    std::string name;
    std::uint64_t value = 0;
    while (in >> name >> value) {
        if (name == key) return value;
    }
    return 0;
}

// The paths of this process's memory control group, v2 and v1, from /proc/self/cgroup.
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
            std::string controllers(",");
            controllers.append(line, first + 1, second - first - 1).append(",");
            if (controllers.find(",memory,") != std::string::npos) v1 = line.substr(second + 1);
        }
    }
}

// The file names of one version of the memory controller.
struct cgroup_files {
    const char* limit;
    const char* usage;
    const char* dropped_cache;  // the key in memory.stat of file cache the kernel can drop
};
constexpr cgroup_files v1_files{"memory.limit_in_bytes", "memory.usage_in_bytes",
                                "total_inactive_file"};
constexpr cgroup_files v2_files{"memory.max", "memory.current", "inactive_file"};

// The least room left under any limit from the group at path up to the root of the hierarchy
// mounted at mount: each limit less what is charged to its group already (its usage less the
// file cache it can drop). A limit counts for every group below it, so a group with no limit of
// its own inside one that has a limit is held by that one. 0 when no group sets a limit.
std::uint64_t least_room(const std::string& mount, std::string path, const cgroup_files& files) {
    std::uint64_t least = 0;
    if (path.empty() || path[0] != '/') return 0;
    for (;;) {
        const std::string folder = mount + (path == "/" ? "" : path) + "/";
        if (const std::uint64_t limit = read_bytes(folder + files.limit)) {
            const std::uint64_t usage = read_bytes(folder + files.usage);
            const std::uint64_t cache = stat_value(folder + "memory.stat", files.dropped_cache);
            const std::uint64_t charged = usage > cache ? usage - cache : 0;
            // At least one byte: 0 would read as "no limit".
            const std::uint64_t room = limit > charged ? limit - charged : 1;
            least = least == 0 ? room : std::min(least, room);
        }
        if (path == "/") break;
        const auto slash = path.rfind('/');
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    return least;
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
    // v2 alone is mounted at /sys/fs/cgroup; beside v1 controllers, at /sys/fs/cgroup/unified.
    std::uint64_t group = least_room("/sys/fs/cgroup/memory", v1, v1_files);
    for (const char* mount : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
        group = smallest_nonzero(group, least_room(mount, v2, v2_files));
    }
    return smallest_nonzero(smallest_nonzero(machine, available_now()), group);
}
