#include "grid/grid.hpp"

#include <sys/mman.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "common/run_failure.hpp"
#include "grid/memory_limit.hpp"

namespace {

struct named_member {
    GridFunction FieldSet::*member;
    const char* name;
};

// The creation order of the fourteen grid functions.
constexpr std::array<named_member, grid_functions_per_field_set> field_set_members{{
    {&FieldSet::x, "x"},
    {&FieldSet::phi, "phi"},
    {&FieldSet::phi_p, "phi_p"},
    {&FieldSet::rhs_phi, "rhs_phi"},
    {&FieldSet::psi, "psi"},
    {&FieldSet::psi_p, "psi_p"},
    {&FieldSet::rhs_psi, "rhs_psi"},
    {&FieldSet::pi, "pi"},
    {&FieldSet::pi_p, "pi_p"},
    {&FieldSet::rhs_pi, "rhs_pi"},
    {&FieldSet::alpha, "alpha"},
    {&FieldSet::beta, "beta"},
    {&FieldSet::left, "left"},
    {&FieldSet::right, "right"},
}};

constexpr const char* memory_limit_line = "Allocation would exceed memory limit";
constexpr const char* overflow_line =
    "Integer overflow when calculating the amount of memory to allocate";

[[noreturn]] void fail_memory(const std::string& reason) {
    throw run_failure{exit_memory, reason + "\n" + memory_limit_line};
}

// Stops the run before anything is allocated when the whole grid cannot be represented or held.
void check_grid_size(std::int32_t nx, std::int64_t count) {
    // The point count nx+1 must be a valid 32-bit index, and every byte size must fit size_t.
    constexpr auto max_bytes = std::numeric_limits<std::size_t>::max();
    const auto ucount = static_cast<std::uint64_t>(count);
    if (nx == std::numeric_limits<std::int32_t>::max() ||
        ucount > max_bytes / (sizeof(double) * grid_functions_per_field_set)) {
        throw run_failure{exit_overflow, overflow_line};
    }

    const std::uint64_t total = ucount * sizeof(double) * grid_functions_per_field_set;
    const std::uint64_t capacity = memory_capacity_bytes();
    if (capacity != 0 && total > capacity) {
        fail_memory("wave1d: the grid of nx = " + std::to_string(nx) + " needs " +
                    std::to_string(total) + " bytes, more than the " + std::to_string(capacity) +
                    " bytes this process can hold now: " + std::strerror(ENOMEM));
    }
}

// Grid functions of at least this many bytes are mapped on their own, in whole pages of this
// size that the kernel is asked to back with huge pages: the first touch of each small page
// can cost microseconds (docs/performance.md), and a large grid has tens of thousands.
constexpr std::size_t huge_page_bytes = std::size_t{2} << 20;

// Zero-filled memory of `bytes` bytes, rounded up to whole huge pages and starting on one;
// nullptr, with errno set, when the system has none.
double* map_huge_pages(std::size_t bytes, std::size_t& mapped_bytes) {
    mapped_bytes = (bytes + huge_page_bytes - 1) / huge_page_bytes * huge_page_bytes;
    const std::size_t reserved = mapped_bytes + huge_page_bytes;
    void* p = ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // Only the whole huge pages inside what was reserved stay mapped.
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned =
        (start + huge_page_bytes - 1) / huge_page_bytes * huge_page_bytes;
    if (aligned > start) ::munmap(p, aligned - start);
    const std::uintptr_t tail = aligned + mapped_bytes;
    if (start + reserved > tail) ::munmap(reinterpret_cast<void*>(tail), start + reserved - tail);
    ::madvise(reinterpret_cast<void*>(aligned), mapped_bytes, MADV_HUGEPAGE);
    return reinterpret_cast<double*>(aligned);
}

GridFunction allocate_grid_function(std::int64_t count, const char* name) {
    GridFunction f;
    if (count == 0) return f;
    const auto n = static_cast<std::size_t>(count);
    const std::size_t bytes = n * sizeof(double);
    std::size_t mapped_bytes = 0;
    errno = 0;
    double* p = bytes >= huge_page_bytes ? map_huge_pages(bytes, mapped_bytes)
                                         : static_cast<double*>(std::calloc(n, sizeof(double)));
    if (p == nullptr) {
        const int reason = errno != 0 ? errno : ENOMEM;
        fail_memory("wave1d: cannot allocate " + std::to_string(bytes) +
                    " bytes for grid function " + name + ": " + std::strerror(reason));
    }
    f.storage =
        std::unique_ptr<double[], grid_storage_deleter>(p, grid_storage_deleter{mapped_bytes});
    f.count = n;
    return f;
}

}  // namespace

std::int64_t point_count(std::int32_t nx) {
    return nx < 0 ? 0 : static_cast<std::int64_t>(nx) + 1;
}

FieldSet create_grid(RunParameters& params) {
    const std::int32_t nx = params.nx;
    const std::int64_t count = point_count(nx);
    check_grid_size(nx, count);

    FieldSet fields;
    for (const auto& m : field_set_members) {
        fields.*(m.member) = allocate_grid_function(count, m.name);
    }

    // dx = (xmax - xmin) / nx: the difference first, then the quotient.
    params.dx = (params.xmax - params.xmin) / static_cast<double>(nx);

    // x(i) = (i*dx) + xmin: the product first, then the sum.
    GridFunction& x = fields.x;
    for (std::int32_t i = 0; i <= nx; ++i) {
        x[i] = (static_cast<double>(i) * params.dx) + params.xmin;
    }

    params.dt = params.courant * params.dx;
    return fields;
}

void release_fields(FieldSet& fields) {
    for (const auto& m : field_set_members) {
        fields.*(m.member) = GridFunction{};
    }
}
