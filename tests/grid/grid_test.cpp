#include "grid/grid.hpp"

#include <gtest/gtest.h>
#include <sys/sysinfo.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "common/run_failure.hpp"
#include "grid/memory_limit.hpp"
#include "support/run_wave1d.hpp"
#include "support/test_fields.hpp"

namespace {

void expect_all_sizes(const FieldSet& f, std::size_t n) {
    for (const GridFunction* g :
         {&f.x, &f.phi, &f.phi_p, &f.rhs_phi, &f.psi, &f.psi_p, &f.rhs_psi, &f.pi, &f.pi_p,
          &f.rhs_pi, &f.alpha, &f.beta, &f.left, &f.right}) {
        EXPECT_EQ(g->size(), n);
        for (std::size_t k = 0; k < g->size() && g != &f.x; ++k) {
            EXPECT_EQ(g->data()[k], 0.0) << "new grid functions are zero-filled";
        }
    }
}

TEST(CreateGrid, CoordinatesAreProductThenSumNotTheExactDecimal) {
    RunParameters p = grid_parameters(10, 0.0, 1.0, 1.0);
    FieldSet f = create_grid(p);
    expect_all_sizes(f, 11);
    EXPECT_EQ(p.dx, 0.1);
    EXPECT_EQ(p.dt, 0.1);
    EXPECT_EQ(f.x[3], 0.30000000000000004);
    EXPECT_EQ(f.x[10], 1.0);

    RunParameters q = grid_parameters(25, -2.0, 5.0, 0.5);
    FieldSet g = create_grid(q);
    EXPECT_EQ(q.dx, 0.28);
    EXPECT_EQ(q.dt, 0.14);
    EXPECT_EQ(g.x[25], 5.000000000000001);
    EXPECT_EQ(g.x[0], -2.0);
}

TEST(CreateGrid, ReversedDomainAndOddCourantFactorsPassThrough) {
    RunParameters p = grid_parameters(4, 1.0, -1.0, -0.5);
    FieldSet f = create_grid(p);
    EXPECT_EQ(p.dx, -0.5);
    EXPECT_EQ(p.dt, 0.25);
    EXPECT_EQ(f.x[4], -1.0);
    RunParameters q = grid_parameters(4, 0.0, 1.0, 0.0);
    create_grid(q);
    EXPECT_EQ(q.dt, 0.0);
}

TEST(CreateGrid, NegativeNxGivesEmptyGridFunctionsButStillComputesDx) {
    RunParameters p = grid_parameters(-4, 0.0, 1.0, 2.0);
    FieldSet f = create_grid(p);
    expect_all_sizes(f, 0);
    EXPECT_EQ(p.dx, -0.25);
    EXPECT_EQ(p.dt, -0.5);

    RunParameters q = grid_parameters(std::numeric_limits<std::int32_t>::min(), 0.0, 1.0, 1.0);
    FieldSet g = create_grid(q);
    expect_all_sizes(g, 0);
}

TEST(CreateGrid, ZeroIntervalsGiveOnePointAndIeeeDivisionByZero) {
    RunParameters up = grid_parameters(0, 0.0, 1.0, 1.0);
    FieldSet f = create_grid(up);
    expect_all_sizes(f, 1);
    EXPECT_EQ(up.dx, std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(f.x[0]));
    EXPECT_TRUE(std::isinf(up.dt));

    RunParameters down = grid_parameters(0, 1.0, 0.0, 1.0);
    create_grid(down);
    EXPECT_EQ(down.dx, -std::numeric_limits<double>::infinity());

    RunParameters flat = grid_parameters(0, 1.0, 1.0, 1.0);
    create_grid(flat);
    EXPECT_TRUE(std::isnan(flat.dx));
    EXPECT_TRUE(std::isnan(flat.dt));
}

// Grid functions of 2 MiB and more are mapped in huge pages of their own, smaller ones come from
// the heap: on both sides of that size every one is zero-filled, holds all its points, and is
// returned whole by release_fields, which leaves it empty.
TEST(CreateGrid, GridFunctionsOfEverySizeAreZeroFilledAndReleasedWhole) {
    for (std::int32_t nx : {6, 262142, 262143, 300001}) {
        RunParameters p = grid_parameters(nx, 0.0, 1.0, 1.0);
        FieldSet f = create_grid(p);
        expect_all_sizes(f, static_cast<std::size_t>(nx) + 1);
        EXPECT_EQ(f.x[nx], 1.0) << nx;
        f.right[nx] = 1.0;
        release_fields(f);
        expect_all_sizes(f, 0);
        EXPECT_EQ(f.x.data(), nullptr);
    }
}

TEST(CreateGrid, StopsBeforeAllocatingWhenTheSizeOverflowsOrExceedsMemory) {
    RunParameters overflow = grid_parameters(2147483647, 0.0, 1.0, 1.0);
    try {
        create_grid(overflow);
        FAIL() << "nx = 2147483647 must stop";
    } catch (const run_failure& failure) {
        EXPECT_EQ(failure.status, exit_overflow);
        EXPECT_EQ(failure.message,
                  "Integer overflow when calculating the amount of memory to allocate");
    }

    // A grid of twice what this host can hold now, so that memory freed meanwhile cannot make
    // it fit, or the largest grid the program accepts where that is more.
    const std::uint64_t capacity = memory_capacity_bytes();
    if (capacity == 0) {
        GTEST_SKIP() << "this host's memory capacity is unknown, and the program then lets the "
                        "system refuse a grid";
    }
    constexpr std::uint64_t bytes_per_point = sizeof(double) * grid_functions_per_field_set;
    constexpr std::uint64_t largest_count = std::numeric_limits<std::int32_t>::max();
    const std::uint64_t count = std::min(2 * (capacity / bytes_per_point) + 2, largest_count);
    const std::uint64_t bytes = count * bytes_per_point;
    if (bytes <= capacity + capacity / 4) {
        GTEST_SKIP() << "this host can hold " << capacity << " bytes, and the largest grid "
                     << "the program accepts needs only " << bytes;
    }
    const auto nx = static_cast<std::int32_t>(count - 1);
    RunParameters huge = grid_parameters(nx, 0.0, 1.0, 1.0);
    try {
        create_grid(huge);
        FAIL() << "a grid of " << bytes << " bytes, more than the " << capacity
               << " this host can hold, must stop";
    } catch (const run_failure& failure) {
        EXPECT_EQ(failure.status, exit_memory);
        const std::string last_line = "\nAllocation would exceed memory limit";
        ASSERT_GT(failure.message.size(), last_line.size());
        EXPECT_EQ(failure.message.substr(failure.message.size() - last_line.size()), last_line);
        EXPECT_NE(failure.message.find("Cannot allocate memory"), std::string::npos);
        EXPECT_NE(failure.message.find(" nx = " + std::to_string(nx) + " needs " +
                                       std::to_string(bytes) + " bytes"),
                  std::string::npos)
            << failure.message;
    }
}

// What a process can hold is bounded by the machine (memory plus swap) and is never nothing.
TEST(MemoryCapacity, NoMoreThanTheMachineHolds) {
    struct sysinfo info {};
    ASSERT_EQ(sysinfo(&info), 0);
    const std::uint64_t machine =
        (static_cast<std::uint64_t>(info.totalram) + info.totalswap) * info.mem_unit;
    const std::uint64_t capacity = memory_capacity_bytes();
    EXPECT_GT(capacity, 64ULL << 20);
    EXPECT_LE(capacity, machine);
}

}  // namespace
