#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Returns a grid function's storage: memory mapped for it when mapped_bytes is above 0,
// otherwise storage obtained with std::calloc.
struct grid_storage_deleter {
    std::size_t mapped_bytes = 0;
    void operator()(double* p) const noexcept;
};

// One double per grid point, indexed 0..nx, stored contiguously. Empty when nx is negative.
// Created once by create_grid, zero-filled, and never resized.
struct GridFunction {
    std::unique_ptr<double[], grid_storage_deleter> storage;
    std::size_t count = 0;

    double& operator[](std::int32_t i) noexcept { return storage[static_cast<std::size_t>(i)]; }
    const double& operator[](std::int32_t i) const noexcept {
        return storage[static_cast<std::size_t>(i)];
    }
    double* data() noexcept { return storage.get(); }
    const double* data() const noexcept { return storage.get(); }
    std::size_t size() const noexcept { return count; }
};

// True when every value of f is a number and finite (also when f has no points).
bool all_finite(const GridFunction& f);
