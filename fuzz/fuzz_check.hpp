#pragma once

#include <cstdio>
#include <cstdlib>

// Stops the fuzzer with a report when a property of the code under test does not hold, so that
// the input that broke it is saved as a crash.
inline void require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "property violated: %s\n", property);
    std::abort();
}
