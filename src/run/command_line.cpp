#include "run/command_line.hpp"

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
    throw run_failure{exit_usage, "wave1d: " + what +
                                      "; usage: wave1d [FILE], or wave1d < FILE "
                                      "(see wave1d --help)"};
}

}  // namespace

program_request read_command_line(int argc, const char* const* argv) {
    if (argc <= 1) return {};
    if (argc > 2) {
        refuse("too many arguments (" + std::to_string(argc - 1) +
               "): give at most one option or one input file");
    }
    const std::string_view argument = argv[1];
    if (argument == "--help" || argument == "-h") return {program_request::kind::help, {}};
    if (argument == "--version") return {program_request::kind::version, {}};
    // "-" alone is standard input; "./-x" names a file that begins with a hyphen.
    if (argument == "-") return {};
    if (argument.starts_with('-')) refuse("unknown option " + shown(argument));
    if (argument.empty()) refuse("an empty argument names no input file");
    return {program_request::kind::run, std::string(argument)};
}

void print_help(std::FILE* out) {
    write_console(out, help_text(examples_folder()));
    flush_console(out);
}

void print_version(std::FILE* out) {
    write_console(out, "wave1d " WAVE1D_VERSION "\n");
    flush_console(out);
}
