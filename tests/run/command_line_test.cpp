// The command line, end to end: the options print and exit at once, one argument names the input
// file, and anything else stops at once with status 5; none of these touches a profile file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_wave1d.hpp"

namespace {

namespace fs = std::filesystem;

// Runs the program with the arguments and standard input left open and empty, as a terminal
// nobody types at: a program that waited on it would be killed (status 137). Standard output
// goes to stdout_path, if given.
run_result run_with(const temp_dir& dir, const std::vector<std::string>& arguments,
                    const std::string& stdout_path = "") {
    run_options options;
    options.arguments = arguments;
    options.stdout_path = stdout_path;
    options.stdin_held_open = true;
    return run_program(dir.path, "", options);
}

TEST(CommandLine, HelpListsTheValuesInOrderAndNamesAnExamplesFolderThatExists) {
    for (const char* option : {"--help", "-h"}) {
        temp_dir dir;
        const run_result r = run_with(dir, {option});
        ASSERT_EQ(r.exit_status, 0) << option << ": " << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(fs::exists(dir.path / "phi.xl"));
        std::size_t at = 0;
        for (const char* name : {"xmin", "xmax", "nx", "courant", "nt", "boundtype", "amplitude",
                                 "width", "center", "every_1D", "lapsetype", "shifttype"}) {
            at = r.out.find(std::string(" ") + name + " ", at);
            EXPECT_NE(at, std::string::npos) << name << " in order";
        }
        for (const auto& line : split_lines(r.out)) {
            EXPECT_LE(line.size(), 79u) << "fits a terminal of 80 columns: " << line;
        }
        const std::string example = "\nExample:\n  wave1d ";
        const auto example_at = r.out.find(example);
        ASSERT_NE(example_at, std::string::npos);
        const std::string input = r.out.substr(
            example_at + example.size(),
            r.out.find('\n', example_at + example.size()) - example_at - example.size());
        EXPECT_TRUE(fs::is_regular_file(input)) << input;
    }
}

TEST(CommandLine, VersionIsTheProjectVersion) {
    temp_dir dir;
    const run_result r = run_with(dir, {"--version"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, std::string("wave1d ") + WAVE1D_VERSION + "\n");
}

// wave1d FILE is wave1d < FILE, and --norms, before or after it, only adds norms.tsv: the same
// console, profile files and status in every form, and norms.tsv only where it is asked for.
TEST(CommandLine, AnInputFileAndNormsChangeNothingElseOfTheRun) {
    temp_dir piped;
    const std::string in = input_with({{"nt", "6"}, {"every_1D", "3"}, {"boundtype", "1"}});
    const run_result plain = run_program(piped.path, in);
    ASSERT_EQ(plain.exit_status, 0) << plain.err;
    EXPECT_FALSE(fs::exists(piped.path / "norms.tsv"));
    const std::vector<std::string> forms[] = {
        {"FILE"}, {"--norms"}, {"--norms", "FILE"}, {"FILE", "--norms"}, {"-", "--norms"}};
    for (const auto& form : forms) {
        temp_dir dir;
        const fs::path input = dir.path / "run.in";
        std::ofstream(input) << in;
        run_options options;
        for (const std::string& argument : form)
            options.arguments.push_back(argument == "FILE" ? input.string() : argument);
        // Standard input stays open and empty when the values come from the file.
        options.stdin_held_open = std::find(form.begin(), form.end(), "FILE") != form.end();
        const run_result r = run_program(dir.path, in, options);
        SCOPED_TRACE(form.front() + (form.size() > 1 ? " " + form.back() : ""));
        ASSERT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(r.err, plain.err);
        expect_same_output(output_of(r, dir.path), output_of(plain, piped.path));
        const bool norms = std::find(form.begin(), form.end(), "--norms") != form.end();
        EXPECT_EQ(fs::exists(dir.path / "norms.tsv"), norms);
    }
}

// Bad arguments, and help that cannot be written, stop at once with a message and touch no file.
TEST(CommandLine, FailuresStopAtOnceAndTouchNoFile) {
    struct bad {
        std::vector<std::string> arguments;
        int status;
        std::string message;
        std::string stdout_path = "";  // empty: captured
    };
    const bad cases[] = {
        {{"missing.in"}, 3, "wave1d: cannot open \"missing.in\": No such file or directory"},
        {{"."}, 3, "wave1d: cannot open \".\": Is a directory"},
        {{"--helpx"}, 5, "wave1d: unknown option \"--helpx\"; usage: wave1d [--norms] [FILE], or"},
        {{"-h", "--version"}, 5, "wave1d: too many arguments (2): -h stands alone"},
        {{"--norms", "--help"}, 5, "wave1d: too many arguments (2): --help stands alone"},
        {{"a.in", "b.in", "c.in"}, 5, "wave1d: too many arguments (3)"},
        {{"a.in", "--norms", "-"},
         5,
         "wave1d: too many arguments (3): give at most one input file"},
        {{"-\x01" + std::string(100, 'y')},
         5,
         "wave1d: unknown option \"-\\x01" + std::string(62, 'y') + "\"...;"},
        {{"--help"},
         4,
         "wave1d: cannot write to standard output: No space left on device",
         "/dev/full"},
    };
    for (const bad& b : cases) {
        temp_dir dir;
        plant_stale_files(dir.path);
        const run_result r = run_with(dir, b.arguments, b.stdout_path);
        EXPECT_EQ(r.exit_status, b.status) << b.message;
        EXPECT_EQ(r.out, "");
        const auto err = split_lines(r.err);
        ASSERT_EQ(err.size(), 1u) << r.err;
        EXPECT_EQ(err[0].rfind(b.message, 0), 0u) << err[0];
        expect_stale_files_untouched(dir.path);
        EXPECT_FALSE(fs::exists(dir.path / "norms.tsv"));
    }
}

}  // namespace
