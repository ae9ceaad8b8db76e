// A thread that cannot start costs no output: with thread stacks larger than the address space
// allows, a run told to split every step goes on on one thread, says so once, and completes.
#include <gtest/gtest.h>

#include "support/profile_checks.hpp"
#include "support/run_wave1d.hpp"

namespace {

TEST(Threads, AThreadThatCannotStartCostsNoOutput) {
#if defined(WAVE1D_ADDRESS_SANITIZER)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any such limit allows";
#endif
    temp_dir dir;
    run_options options;
    options.address_space_limit = 512ULL << 20;
    options.stack_limit = 1ULL << 30;
    options.environment = {{"OMP_DYNAMIC", "false"}, {"OMP_NUM_THREADS", "2"}};
    const run_result r = run_program(
        dir.path, input_with({{"nx", "20000"}, {"nt", "40"}, {"every_1D", "10"}}), options);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err,
              "wave1d: warning: 2 threads cannot start (Resource temporarily unavailable); the "
              "run goes on one thread\n");
    EXPECT_EQ(table_row_count(r.out), 5u);
    expect_profile_rules(dir.path, 5, 20000 / 4 + 1);
}

}  // namespace
