#include "run/command_line.hpp"

#include <cstdlib>
#include <string>
#include <string_view>

#include "common/run_failure.hpp"
#include "output/console.hpp"
#include "run/parameter_input.hpp"
#include "run/program_manual.hpp"

#ifndef WAVE1D_VERSION
#error "WAVE1D_VERSION must be defined by the build, from the project's version"
#endif

namespace {

// Longest part of an argument shown in a message.
constexpr std::size_t shown_argument = 64;

std::string shown(std::string_view argument) {
    std::string text = quoted(argument.substr(0, shown_argument));
    if (argument.size() > shown_argument) text += "...";
    return text;
}

[[noreturn]] void refuse(const std::string& what) {
    throw run_failure{exit_usage,
                      "wave1d: " + what +
                          "; usage: wave1d [--norms] [FILE], or wave1d [--norms] < FILE "
                          "(see wave1d --help)"};
}

}  // namespace

program_request read_command_line(int argc, const char* const* argv) {
    program_request request;
    bool input_named = false;
    for (int a = 1; a < argc; ++a) {
        const std::string_view argument = argv[a];
        if (argument == "--help" || argument == "-h" || argument == "--version") {
            if (argc > 2) {
                refuse("too many arguments (" + std::to_string(argc - 1) +
                       "): " + std::string(argument) + " stands alone");
            }
            request.what = argument == "--version" ? program_request::kind::version
                                                   : program_request::kind::help;
            return request;
        }
        if (argument == "--norms") {
            request.norms = true;
            continue;
        }
        // "-" alone is standard input; "./-x" names a file that begins with a hyphen.
        if (argument != "-" && argument.starts_with('-'))
            refuse("unknown option " + shown(argument));
        if (argument.empty()) refuse("an empty argument names no input file");
        if (input_named) {
            refuse("too many arguments (" + std::to_string(argc - 1) +
                   "): give at most one input file");
        }
        input_named = true;
        if (argument != "-") request.input_path = argument;
    }
    return request;
}

forced_step forced_step_from_environment() {
    const char* value = std::getenv("WAVE1D_STEP");
    if (value == nullptr || *value == '\0') return {};
    if (std::optional<forced_step> forced = parse_forced_step(value)) return *forced;
    throw run_failure{exit_usage, "wave1d: WAVE1D_STEP=" + shown(value) + " is not one of " +
                                      std::string(forced_step_values)};
}

void print_help(std::FILE* out) {
    write_console(out, help_text(examples_folder()));
    flush_console(out);
}

void print_version(std::FILE* out) {
    write_console(out, "wave1d " WAVE1D_VERSION "\n");
    flush_console(out);
}
