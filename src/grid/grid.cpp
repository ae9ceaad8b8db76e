#include "grid/grid.hpp"

#include <array>
#include <cerrno>
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

GridFunction allocate_grid_function(std::int64_t count, const char* name) {
    GridFunction f;
    if (count == 0) return f;
    const auto n = static_cast<std::size_t>(count);
    errno = 0;
    auto* p = static_cast<double*>(std::calloc(n, sizeof(double)));
    if (p == nullptr) {
        const int reason = errno != 0 ? errno : ENOMEM;
        fail_memory("wave1d: cannot allocate " + std::to_string(n * sizeof(double)) +
                    " bytes for grid function " + name + ": " + std::strerror(reason));
    }
    f.storage.reset(p);
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
