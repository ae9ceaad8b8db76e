// In-process: whatever the program's work throws, the entry point reports it with the program's
// message and a non-zero status; nothing escapes to end the process without a word.
#include "run/process_setup.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "common/run_failure.hpp"
#include "support/run_wave1d.hpp"

namespace {

TEST(ProcessSetup, EveryExceptionIsReportedWithAStatus) {
    struct thrown {
        std::function<void()> work;
        int status;
        std::string message;
    };
    const thrown cases[] = {
        {[] {}, 0, ""},
        {[] {
             throw run_failure{exit_input, "wave1d: cannot read nx"};
         },
         3, "wave1d: cannot read nx\n"},
        {[] { throw std::bad_alloc(); }, 1,
         "wave1d: out of memory\nAllocation would exceed memory limit\n"},
        {[] { throw std::length_error("basic_string::_M_create"); }, 6,
         "wave1d: unexpected failure: basic_string::_M_create\n"},
        {[] { throw 42; }, 6, "wave1d: unexpected failure of an unknown kind\n"},
    };
    for (const thrown& c : cases) {
        std::FILE* err = std::tmpfile();
        ASSERT_NE(err, nullptr);
        EXPECT_EQ(run_reported(process_setup{}, err, c.work), c.status);
        EXPECT_EQ(contents_of(err), c.message);
        std::fclose(err);
    }
}

}  // namespace
