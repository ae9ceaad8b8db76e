#include "run/program_manual.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/exit_statuses.hpp"
#include "run/input_values.hpp"
#include "sweep/forced_step.hpp"

namespace {

struct entry {
    std::string_view term;
    std::string_view text;
};

// Everything --help and the manual page say, in the order they say it. "EXAMPLES" in a text
// stands for the folder of example inputs.
constexpr std::string_view summary =
    "Evolves the one-dimensional scalar wave equation on a uniform grid with a three-iteration "
    "iterated Crank-Nicolson scheme. It asks for twelve values, one per line, on standard input "
    "or from FILE, prints a summary of the grid and a table of the time and the largest phi, "
    "and writes the profiles of phi to phi.xl and phi.xtl in the current directory.";

constexpr std::string_view reading_rules =
    "Blank lines and leading blanks are skipped; a value ends at a blank, a comma, a slash or "
    "the end of the line, and the rest of its line is ignored, so a file can name its values. "
    "Reals may have an exponent with E or D (1.0d-2); integers are 32-bit.";

constexpr std::array<entry, 4> options{{
    {"FILE", "read the twelve values from FILE instead of standard input"},
    {"--norms",
     "also write norms.tsv in the current directory: the norms of the fields at every output "
     "time; standard output, phi.xl and phi.xtl stay exactly as without it"},
    {"-h, --help", "print this help and exit"},
    {"--version", "print the version and exit"},
}};

constexpr std::array<entry, 5> files{{
    {"standard output",
     "the prompts, six summary lines (xmin=, xmax=, center=, dx=, dt=, courant=) and a table of "
     "the time and the largest phi at time zero and every every_1D steps"},
    {"phi.xl",
     "for every output time, time zero included, \"#Time = \" and the time, then x and phi at "
     "every fourth grid point; created or emptied at every run"},
    {"phi.xtl", "for every output time after zero, time, x and phi at every fourth grid point"},
    {"norms.tsv",
     "with --norms: the line \"# time max_abs_phi l2_phi l2_psi l2_pi energy l2_constraint "
     "max_abs_constraint\" (tabs between the names), then for every output time, time zero "
     "included, a row of these, tab-separated: the time, the largest |phi|, sqrt(dx * sum "
     "f(i)^2) of phi, psi and pi over the points 1 .. nx-1, the energy 0.5 * dx * sum (pi(i)^2 "
     "+ psi(i)^2), and the same norm and the largest magnitude of the constraint psi(i) - "
     "(phi(i+1) - phi(i-1)) * 0.5 / dx; each number the shortest that reads back exactly, or "
     "inf, -inf, nan; created or emptied like phi.xl"},
    {"standard error",
     "failures, and warnings beginning \"wave1d: warning: \"; the run goes on after a warning"},
}};

constexpr std::string_view files_note =
    "A phi of magnitude not above 1e-50, or NaN, is written as zero in phi.xl and phi.xtl.";

constexpr std::array<entry, 5> warnings{{
    {"Courant factor",
     "the Courant factor times the largest |alpha - beta| or |alpha + beta| is above 2: the run "
     "is expected to grow"},
    {"outgoing boundary", "boundtype 2 with |beta| > alpha at an end: the condition cannot hold"},
    {"phi not finite", "phi holds a NaN or an infinity at an output time (written as zero)"},
    {"decimal comma",
     "a value followed directly by a comma and a digit (0,5 or 1,000) is read up to the comma"},
    {"WAVE1D_STEP", "the step named is not available on this processor; the nearest one runs"},
}};

constexpr std::array<entry, 4> environment_terms{{
    {"OMP_NUM_THREADS",
     "threads of the run (default: the processors it may run on); 1 runs the plain one-thread "
     "program"},
    {"OMP_DYNAMIC",
     "false splits every step, the set-up and every profile over all the threads, whatever the "
     "grid"},
    {"WAVE1D_STEP", ""},  // the text of forced_step_help, see environment_entries
    {"OMP_PROC_BIND, OMP_WAIT_POLICY", "as OpenMP defines them"},
}};

// text as one paragraph: its line ends and runs of blanks as single blanks.
std::string flowing(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const bool blank = c == ' ' || c == '\n';
        if (blank && (out.empty() || out.back() == ' ')) continue;
        out += blank ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// The environment variables, WAVE1D_STEP described where the step plan declares it.
std::array<entry, 4> environment_entries() {
    static const std::string forced_step = flowing(forced_step_help);
    std::array<entry, 4> entries = environment_terms;
    for (entry& e : entries) {
        if (e.term == "WAVE1D_STEP") e.text = forced_step;
    }
    return entries;
}

constexpr std::string_view example_text = "wave1d EXAMPLES/outgoing_pulse.in";

std::string with_examples(std::string_view text, std::string_view examples) {
    std::string out(text);
    constexpr std::string_view mark = "EXAMPLES";
    if (const auto at = out.find(mark); at != std::string::npos)
        out.replace(at, mark.size(), examples);
    return out;
}

std::string_view type_name(value_type type) {
    return type == value_type::real ? "real" : "integer";
}

std::string value_text(const input_value& value) {
    std::string text(value.meaning);
    if (!value.choices.empty()) text += "; " + std::string(value.choices);
    return text;
}

// --- Plain text ---------------------------------------------------------------------------

constexpr std::size_t text_width = 79;

// text from column `indent`, the first line after `first` (already `indent` wide or less),
// wrapped at blanks.
void wrap(std::string& out, std::string_view first, std::size_t indent, std::string_view text) {
    std::string line(first);
    line.resize(std::max(line.size(), indent), ' ');
    bool line_has_words = false;
    while (!text.empty()) {
        const auto space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        text = space == std::string_view::npos ? std::string_view{} : text.substr(space + 1);
        if (line_has_words && line.size() + 1 + word.size() > text_width) {
            out += line + "\n";
            line.assign(indent, ' ');
            line_has_words = false;
        }
        if (line_has_words) line += ' ';
        line += word;
        line_has_words = true;
    }
    out += line + "\n";
}

template <std::size_t n>
void text_entries(std::string& out, const std::array<entry, n>& entries) {
    std::size_t widest = 0;
    for (const entry& e : entries)
        widest = std::max(widest, e.term.size());
    const std::size_t indent = std::min<std::size_t>(2 + widest + 2, 20);
    for (const entry& e : entries) {
        std::string first = "  " + std::string(e.term);
        if (first.size() + 1 > indent) {
            out += first + "\n";
            first.clear();
        }
        wrap(out, first, indent, e.text);
    }
}

// --- Manual page ----------------------------------------------------------------------------

// Text as man(7) shows it literally: backslashes and hyphens escaped, and a leading dot or
// quote kept from being read as a request.
std::string roff(std::string_view text) {
    std::string out;
    if (!text.empty() && (text[0] == '.' || text[0] == '\'')) out += "\\&";
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    return out;
}

template <std::size_t n>
void roff_entries(std::string& out, const std::array<entry, n>& entries) {
    for (const entry& e : entries)
        out += ".TP\n.B " + roff(e.term) + "\n" + roff(e.text) + "\n";
}

}  // namespace

std::string help_text(std::string_view examples) {
    std::string out =
        "Usage: wave1d [--norms] [FILE]\n"
        "       wave1d [--norms] < FILE\n"
        "       wave1d --help | -h | --version\n\n";
    wrap(out, "", 0, summary);
    out += "\nOptions:\n";
    text_entries(out, options);
    out += "\nThe twelve values, in this order:\n";
    for (std::size_t i = 0; i < input_values.size(); ++i) {
        const input_value& value = input_values[i];
        char first[32];
        std::snprintf(first, sizeof first, "%4zu %-11.*s%-8.*s", i + 1,
                      static_cast<int>(value.name.size()), value.name.data(),
                      static_cast<int>(type_name(value.type).size()), type_name(value.type).data());
        wrap(out, first, 25, value_text(value));
    }
    out += "\n";
    wrap(out, "", 0, reading_rules);
    out += "\nIt writes:\n";
    text_entries(out, files);
    wrap(out, "", 0, files_note);
    out += "\nWarnings on standard error:\n";
    text_entries(out, warnings);
    out += "\nEnvironment:\n";
    text_entries(out, environment_entries());
    out += "\nExit status:\n";
    std::array<entry, exit_statuses.size()> statuses;
    for (std::size_t i = 0; i < statuses.size(); ++i)
        statuses[i] = {exit_statuses[i].status, exit_statuses[i].meaning};
    text_entries(out, statuses);
    out += "\nExample:\n  " + with_examples(example_text, examples) + "\n";
    out += "\nSee also man wave1d.\n";
    return out;
}

std::string manual_page(std::string_view examples, std::string_view version) {
    std::string out = ".TH WAVE1D 1 \"\" \"wave1d " + roff(version) + "\" \"User Commands\"\n";
    out += ".SH NAME\nwave1d \\- evolve the one\\-dimensional scalar wave equation\n";
    out +=
        ".SH SYNOPSIS\n.B wave1d\n.RB [ \\-\\-norms ]\n.RI [ FILE ]\n.br\n.B wave1d\n"
        ".RB [ \\-\\-norms ]\n< \n.I FILE\n.br\n"
        ".B wave1d\n\\-\\-help | \\-h | \\-\\-version\n";
    out += ".SH DESCRIPTION\n" + roff(summary) + "\n";
    out += ".SH OPTIONS\n";
    roff_entries(out, options);
    out += ".SH VALUES\nThe twelve values, in the order they are asked for:\n";
    for (std::size_t i = 0; i < input_values.size(); ++i) {
        const input_value& value = input_values[i];
        out += ".TP\n" + std::to_string(i + 1) + ". \\fB" + roff(value.name) + "\\fR (" +
               std::string(type_name(value.type)) + ")\n" + roff(value_text(value)) + "\n";
    }
    out += ".PP\n" + roff(reading_rules) + "\n";
    out += ".SH FILES\n";
    roff_entries(out, files);
    out += ".PP\n" + roff(files_note) + "\n";
    out += ".SH ENVIRONMENT\n";
    roff_entries(out, environment_entries());
    out +=
        ".SH DIAGNOSTICS\nWarnings are single lines on standard error beginning "
        "\"wave1d: warning: \"; the run goes on unchanged:\n";
    roff_entries(out, warnings);
    out +=
        ".PP\nA failure writes its message to standard error and stops the run; what was "
        "written before it stays.\n";
    out += ".SH EXIT STATUS\n";
    for (const exit_status_entry& e : exit_statuses)
        out += ".TP\n.B " + roff(e.status) + "\n" + roff(e.meaning) + "\n";
    out += ".SH EXAMPLE\n.EX\n" + roff(with_examples(example_text, examples)) + "\n.EE\n";
    return out;
}

std::string examples_folder() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path installed =
            program.parent_path().parent_path() / "share/doc/wave1d/examples";
        if (fs::is_directory(installed, error)) return installed.lexically_normal().string();
    }
#ifdef WAVE1D_SOURCE_EXAMPLES
    if (fs::is_directory(WAVE1D_SOURCE_EXAMPLES, error)) return WAVE1D_SOURCE_EXAMPLES;
#endif
    return "examples";
}
