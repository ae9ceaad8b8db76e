// The whole program under every value of WAVE1D_STEP, on one thread and on two, against the
// program left to choose for itself: the same console output and profile files, byte for byte.
// A kernel the processor lacks runs the nearest one it has, with one warning line.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/run_wave1d.hpp"
#include "sweep/sweep.hpp"

namespace {

run_output run_with(const std::string& input,
                    std::vector<std::pair<std::string, std::string>> environment,
                    std::string* err) {
    temp_dir dir;
    run_options options;
    options.environment = std::move(environment);
    const run_result r = run_program(dir.path, input, options);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    *err = r.err;
    return output_of(r, dir.path);
}

TEST(ForcedStep, EveryKernelAndThreadCountGivesTheSameBytes) {
    using enum sweep_isa;
    using enum sweep_division;
    const std::pair<const char*, sweep_method> kernels[] = {
        {"sse2:divider", {sse2, divider}},     {"avx2:divider", {avx2, divider}},
        {"avx2:first", {avx2, first}},         {"avx2:all", {avx2, all}},
        {"avx512:divider", {avx512, divider}}, {"avx512:first", {avx512, first}},
        {"avx512:all", {avx512, all}}};
    // Outgoing and periodic boundaries, the tanh lapse and a constant shift; a grid that
    // splits into parts of several blocks, written every few steps.
    for (const char* boundtype : {"2", "1"}) {
        const std::string input = input_with({{"xmin", "-10"},
                                              {"xmax", "10"},
                                              {"nx", "20011"},
                                              {"nt", "30"},
                                              {"boundtype", boundtype},
                                              {"width", "1"},
                                              {"every_1D", "7"},
                                              {"lapsetype", "1"},
                                              {"shifttype", "1"}});
        std::string err;
        const run_output chosen = run_with(input, {{"OMP_NUM_THREADS", "2"}}, &err);
        EXPECT_EQ(err, "");
        for (const auto& [value, method] : kernels) {
            for (const char* threads : {"1", "2"}) {
                SCOPED_TRACE(std::string(value) + ", " + threads + " threads");
                const run_output forced =
                    run_with(input, {{"WAVE1D_STEP", value}, {"OMP_NUM_THREADS", threads}}, &err);
                // A kernel the processor lacks: one line saying what runs instead.
                const std::string warning = std::string("wave1d: warning: WAVE1D_STEP=") + value;
                EXPECT_TRUE(sweep_method_supported(method)
                                ? err.empty()
                                : err.starts_with(warning) && err.find('\n') == err.size() - 1)
                    << err;
                expect_same_output(forced, chosen);
            }
        }
    }
}

// A value that names no kernel, anything but the seven values as a user writes them (each of
// those runs in the test above), stops the run before the dialogue, with status 5, the valid
// values and the value as other bad values are shown: in quotes, bytes that are not printable
// as \xHH, cut at 64 characters.
TEST(ForcedStep, MalformedValueStopsBeforeTheDialogue) {
    std::vector<std::pair<std::string, std::string>> cases = {
        {"\x1b]0;owned\x07\x1b[2J" + std::string(300, 'x'),
         "\"\\x1B]0;owned\\x07\\x1B[2J" + std::string(50, 'x') + "\"..."}};
    for (const std::string value :
         {"avx2:fast", "avx2", "avx2:", ":first", "sse2:first", "sse2:all", "AVX2:first",
          "avx2:first ", "avx1024:divider", "avx2:first:all"})
        cases.emplace_back(value, '"' + value + '"');
    for (const auto& [value, shown] : cases) {
        temp_dir dir;
        run_options options;
        options.environment = {{"WAVE1D_STEP", value}};
        const run_result r = run_program(dir.path, input_with(), options);
        EXPECT_EQ(r.exit_status, 5) << value;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("WAVE1D_STEP=" + shown + " is not one of sse2:divider"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.path / "phi.xl"));
    }
}

}  // namespace
