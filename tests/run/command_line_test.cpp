// The command line, end to end: the options print and exit at once, any other argument stops
// at once with status 5, and none of them reads standard input or touches a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_wave1d.hpp"

namespace {

namespace fs = std::filesystem;

// Runs the program with the arguments and standard input left open and empty, as a terminal
// nobody types at: a program that waited on it would be killed (status 137).
run_result run_with(const temp_dir& dir, const std::vector<std::string>& arguments) {
    run_options options;
    options.arguments = arguments;
    options.stdin_held_open = true;
    return run_program(dir.path, "", options);
}

TEST(CommandLine, HelpNamesTheValuesInOrderTheOutputAndTheStatuses) {
    for (const char* option : {"--help", "-h"}) {
        temp_dir dir;
        const run_result r = run_with(dir, {option});
        ASSERT_EQ(r.exit_status, 0) << option << ": " << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(fs::exists(dir.path / "phi.xl"));

        // One line per value, numbered, in dialogue order, with its type.
        const char* names[] = {"xmin",   "xmax",      "nx",        "courant",
                               "nt",     "boundtype", "amplitude", "width",
                               "center", "every_1D",  "lapsetype", "shifttype"};
        std::size_t at = 0;
        for (int i = 0; i < 12; ++i) {
            char start[32];
            std::snprintf(start, sizeof start, "\n%4d %-11s", i + 1, names[i]);
            at = r.out.find(start, at);
            ASSERT_NE(at, std::string::npos) << names[i];
            const std::string type = r.out.substr(at + std::strlen(start), 8);
            EXPECT_TRUE(type == "real    " || type == "integer ") << names[i];
        }
        for (const char* text : {"phi.xl", "phi.xtl", "standard error", "wave1d: warning: ",
                                 "\nExample:\n  wave1d < examples/outgoing_pulse.in\n"}) {
            EXPECT_NE(r.out.find(text), std::string::npos) << text;
        }
        for (const auto& line : split_lines(r.out)) {
            EXPECT_LE(line.size(), 79u) << "fits a terminal of 80 columns: " << line;
        }
        const auto exit_section = r.out.substr(r.out.find("Exit status:"));
        for (const char* status :
             {"\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "\n  4 ", "\n  5 ", "\n  129, 130, 143 "}) {
            EXPECT_NE(exit_section.find(status), std::string::npos) << status;
        }
    }
}

TEST(CommandLine, VersionIsTheProjectVersion) {
    temp_dir dir;
    const run_result r = run_with(dir, {"--version"});
    EXPECT_EQ(r.exit_status, 0);
    const std::string version = WAVE1D_VERSION;
    EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << version;
    EXPECT_EQ(r.out, std::string("wave1d ") + WAVE1D_VERSION + "\n");
    EXPECT_EQ(r.err, "");
}

TEST(CommandLine, AnyOtherArgumentStopsAtOnceWithStatus5) {
    struct bad {
        std::vector<std::string> arguments;
        std::string named;
    };
    const bad cases[] = {
        {{"input.in"}, "\"input.in\""},
        {{"--helpx"}, "\"--helpx\""},
        {{""}, "\"\""},
        {{"-"}, "\"-\""},
        {{"--help", "extra"}, "\"extra\""},
        {{"--version", "--help"}, "\"--help\""},
        {{"a\nb\x01"}, "\"a\\x0Ab\\x01\""},
        {{std::string(100, 'y')}, "\"" + std::string(64, 'y') + "\"..."},
    };
    for (const bad& b : cases) {
        temp_dir dir;
        const run_result r = run_with(dir, b.arguments);
        EXPECT_EQ(r.exit_status, 5) << b.named;
        EXPECT_EQ(r.out, "");
        const auto err = split_lines(r.err);
        ASSERT_EQ(err.size(), 1u) << r.err;
        EXPECT_EQ(err[0], "wave1d: unexpected argument " + b.named +
                              ": the values are read from standard input, as in wave1d < "
                              "examples/outgoing_pulse.in (see wave1d --help)");
        EXPECT_FALSE(fs::exists(dir.path / "phi.xl"));
    }
}

TEST(CommandLine, HelpThatCannotBeWrittenFails) {
    temp_dir dir;
    run_options to_full;
    to_full.arguments = {"--help"};
    to_full.stdout_path = "/dev/full";
    const run_result r = run_program(dir.path, "", to_full);
    EXPECT_EQ(r.exit_status, 4);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
}

}  // namespace
