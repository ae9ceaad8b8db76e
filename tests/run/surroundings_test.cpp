// End-to-end runs in hostile surroundings, as a batch system or a careless script makes them:
// closed or unreadable standard descriptors, a file-size limit, a standard error nobody reads,
// two runs in one folder and a control group's memory limit. Each run ends complete with its
// files whole, or with the program's message, a non-zero status and files that end on a whole
// output step.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/profile_checks.hpp"
#include "support/run_wave1d.hpp"

namespace {

namespace fs = std::filesystem;

// Standard descriptors closed, or standard input that cannot be read, on a run that warns while
// it runs: a closed standard error
// costs nothing but the warnings (no profile file takes its number), a closed standard output
// is a failed console write, and an input that cannot be read names the system's reason;
// neither of those touches a file. Standard error is advice: a reader that has gone away costs
// the warnings, never the run.
TEST(Surroundings, ClosedOrUnreadableStandardDescriptors) {
    struct descriptors {
        std::string what;
        std::vector<int> closed;
        std::string stdin_path;  // empty: the input text
        int status;
        std::string err;           // empty when standard error is closed
        bool reader_gone = false;  // standard error a pipe whose reader has closed
    };
    const std::string refused =
        "wave1d: cannot read xmin (The left end of the spatial domain): "
        "the input cannot be read: ";
    temp_dir folder;
    const descriptors cases[] = {
        {"2>&-", {2}, "", 0, ""},
        {"2>| closed pipe", {}, "", 0, "", true},
        {"1>&- 2>&-", {1, 2}, "", 4, ""},
        {">&-", {1}, "", 4, "wave1d: cannot write to standard output: Bad file descriptor\n"},
        {"<&-", {0}, "", 3, refused + "Bad file descriptor\n"},
        {"< folder", {}, folder.path.string(), 3, refused + "Is a directory\n"},
        {"< /proc/PID/mem",
         {},
         "/proc/" + std::to_string(getpid()) + "/mem",
         3,
         refused + "Input/output error\n"},
    };
    for (const descriptors& c : cases) {
        SCOPED_TRACE(c.what);
        temp_dir dir;
        plant_stale_files(dir.path);
        run_options options;
        options.closed_descriptors = c.closed;
        options.stdin_path = c.stdin_path;
        options.stderr_on_closed_pipe = c.reader_gone;
        const run_result r = run_program(dir.path, overflowing_run, options);
        EXPECT_EQ(r.exit_status, c.status);
        EXPECT_EQ(r.err, c.err);
        if (c.status == 0) {
            EXPECT_TRUE(r.out.ends_with(closing_rule));
            expect_profile_rules(dir.path, 521, 5);
        } else {
            expect_stale_files_untouched(dir.path);
        }
    }
}

// ulimit -f: the write past the limit fails as any failed write does, and the profile files and
// norms.tsv are cut back to the same whole output step, on one thread and on several.
TEST(Surroundings, FileSizeLimitStopsWithEveryFileOnAWholeStep) {
    for (const char* threads : {"1", "2"}) {
        SCOPED_TRACE(std::string(threads) + " threads");
        temp_dir dir;
        run_options options;
        options.file_size_limit = 50 * 1024;
        options.environment = {{"OMP_NUM_THREADS", threads}, {"OMP_DYNAMIC", "false"}};
        options.arguments = {"--norms", WAVE1D_EXAMPLES_DIR "/outgoing_pulse.in"};
        const run_result r = run_program(dir.path, "", options);
        EXPECT_EQ(r.exit_status, 4);
        EXPECT_TRUE(r.err == "wave1d: cannot write phi.xl: File too large\n" ||
                    r.err == "wave1d: cannot write phi.xtl: File too large\n")
            << r.err;
        const std::size_t blocks = profile_blocks(dir.path);
        EXPECT_GE(blocks, 1u);
        expect_profile_rules(dir.path, blocks, 400 / 4 + 1);
        EXPECT_EQ(count_of(read_file(dir.path / "norms.tsv"), "\n"), 1 + blocks) << "header, rows";
    }
}

// A second run started in a folder where a run is writing is refused before it touches a file,
// and the first goes on undisturbed.
TEST(Surroundings, ASecondRunInTheSameFolderIsRefused) {
    temp_dir dir, second_scratch;
    const std::string endless = input_with({{"nx", "1024"}, {"nt", "2147483647"}});
    run_result second;
    run_options first;
    first.while_running = [&](pid_t child) {
        wait_until([&] { return profile_blocks(dir.path) >= 1; }, std::chrono::seconds(10));
        const std::string written = read_file(dir.path / "phi.xl");
        run_options beside;
        beside.run_in = dir.path;
        second = run_program(second_scratch.path, input_with(), beside);
        EXPECT_TRUE(read_file(dir.path / "phi.xl").starts_with(written));
        kill(child, SIGTERM);
    };
    const run_result r = run_program(dir.path, endless, first);
    EXPECT_EQ(second.exit_status, 4);
    EXPECT_EQ(second.err, "wave1d: another run is writing phi.xl in " + dir.path.string() +
                              "; two runs in one folder would mix their output\n");
    EXPECT_EQ(table_row_count(second.out), 1u) << "refused when the files are due";
    EXPECT_EQ(r.exit_status, 128 + SIGTERM) << r.err;
    expect_profile_rules(dir.path, profile_blocks(dir.path), 1024 / 4 + 1);
}

// A memory control group (v1) with a limit, and a group without one inside it where the program
// runs: a grid over the outer limit is refused at once with status 1, one under it runs.
TEST(Surroundings, MemoryLimitOfAnEnclosingControlGroupRefusesTheGrid) {
    std::string own;
    {
        std::ifstream groups("/proc/self/cgroup");
        for (std::string line; std::getline(groups, line);) {
            const auto at = line.find(":memory:");
            if (at != std::string::npos) own = line.substr(at + 8);
        }
    }
    const fs::path hierarchy = "/sys/fs/cgroup/memory";
    if (own.empty() || !fs::exists(hierarchy / own.substr(1) / "memory.limit_in_bytes")) {
        GTEST_SKIP() << "no memory control group of version 1 in /proc/self/cgroup and "
                     << hierarchy;
    }
    const fs::path outer = hierarchy / own.substr(1) / ("wave1d-test-" + std::to_string(getpid()));
    const fs::path inner = outer / "inner";
    std::error_code error;
    if (!fs::create_directory(outer, error) || !fs::create_directory(inner, error)) {
        fs::remove(outer, error);
        GTEST_SKIP() << "cannot make a control group under " << outer.parent_path() << ": "
                     << error.message();
    }
    std::ofstream(outer / "memory.limit_in_bytes") << (200 << 20) << "\n";

    struct grid {
        std::string intervals;
        int status;
    };
    for (const grid& g : {grid{"5000000", 1}, grid{"100000", 0}}) {
        SCOPED_TRACE("nx " + g.intervals);
        temp_dir dir;
        plant_stale_files(dir.path);
        run_options options;
        options.cgroup_procs = (inner / "cgroup.procs").string();
        const run_result r = run_program(
            dir.path, input_with({{"nx", g.intervals}, {"nt", "2"}, {"boundtype", "1"}}), options);
        EXPECT_EQ(r.exit_status, g.status) << r.err;
        if (g.status == 1) {
            EXPECT_TRUE(r.err.ends_with("\nAllocation would exceed memory limit\n")) << r.err;
            EXPECT_TRUE(r.out.ends_with(" shifttype\n\n")) << "nothing after the dialogue";
            expect_stale_files_untouched(dir.path);
        }
    }
    fs::remove(inner, error);
    fs::remove(outer, error);
}

}  // namespace
