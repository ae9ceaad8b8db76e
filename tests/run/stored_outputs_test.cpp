// Stored outputs: the console, standard error and the files of a set of runs, made by a program
// whose results were checked and kept in tests/stored_outputs/ (NAME.in, the arguments in
// NAME.args if any, and NAME.PART.gz). tests/stored_outputs/compare makes the same check of any
// program command, such as a cross-built program under an emulator. Every byte of every run
// must stay as stored, with the default plan and with every step split over the threads; a
// change in the order of any operation shows here even where the sweep and the passes change
// alike.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/run_wave1d.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path stored = WAVE1D_STORED_OUTPUTS_DIR;

std::string gunzip(const fs::path& path) {
    std::string text;
    if (!fs::exists(path)) return "(missing: " + path.string() + ")";
    std::FILE* pipe = popen(("gzip -dc '" + path.string() + "'").c_str(), "r");
    if (pipe == nullptr) return "(gzip could not be started)";
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    pclose(pipe);
    return text;
}

// The first line where got differs from expected, or nothing when they are equal.
std::string first_difference(const std::string& expected, const std::string& got) {
    if (expected == got) return "";
    const auto want = split_lines(expected), have = split_lines(got);
    std::size_t line = 0;
    while (line < want.size() && line < have.size() && want[line] == have[line])
        ++line;
    auto shown = [](const std::vector<std::string>& lines, std::size_t i) {
        return i < lines.size() ? "\"" + lines[i] + "\"" : std::string("(end of file)");
    };
    return "line " + std::to_string(line + 1) + ": expected " + shown(want, line) + ", got " +
           shown(have, line) +
           (want.size() == have.size() && line == want.size() ? " (the line ends differ)" : "");
}

TEST(StoredOutputs, EveryRunGivesTheStoredBytes) {
    std::vector<fs::path> inputs;
    for (const auto& entry : fs::directory_iterator(stored)) {
        if (entry.path().extension() == ".in") inputs.push_back(entry.path());
    }
    ASSERT_GE(inputs.size(), 12u) << stored;
    const std::pair<std::string, std::vector<std::pair<std::string, std::string>>> plans[] = {
        {"the default plan", {}},
        {"every step split", {{"OMP_DYNAMIC", "false"}}},
    };
    for (const fs::path& input : inputs) {
        const std::string name = input.stem().string();
        for (const auto& [plan, environment] : plans) {
            temp_dir dir;
            run_options options;
            options.environment = environment;
            options.arguments = split_lines(read_file(stored / (name + ".args")));
            const run_result r = run_program(dir.path, read_file(input), options);
            EXPECT_EQ(r.exit_status, 0) << name << ", " << plan << ": " << r.err;
            // Each stored NAME.PART.gz: the console, standard error or a file the run writes.
            for (const auto& entry : fs::directory_iterator(stored)) {
                const std::string file = entry.path().filename().string();
                if (!file.starts_with(name + ".") || !file.ends_with(".gz")) continue;
                const std::string part =
                    file.substr(name.size() + 1, file.size() - name.size() - 4);
                const std::string got = part == "out"   ? r.out
                                        : part == "err" ? r.err
                                                        : read_file(dir.path / part);
                EXPECT_EQ(first_difference(gunzip(entry.path()), got), "")
                    << name << "." << part << " with " << plan;
            }
            // And no file that is not stored (norms.tsv only where NAME.args asks for it).
            for (const auto& entry : fs::directory_iterator(dir.path)) {
                const std::string file = entry.path().filename().string();
                EXPECT_TRUE(fs::exists(stored / (name + "." + file + ".gz")))
                    << name << " with " << plan << " wrote " << file << ", which is not stored";
            }
        }
    }
}

}  // namespace
