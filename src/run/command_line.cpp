#include "run/command_line.hpp"

#include <string>
#include <string_view>

#include "common/run_failure.hpp"
#include "output/console.hpp"
#include "run/parameter_input.hpp"

#ifndef WAVE1D_VERSION
#error "WAVE1D_VERSION must be defined by the build, from the project's version"
#endif

namespace {

constexpr std::string_view example = "wave1d < examples/outgoing_pulse.in";

constexpr std::string_view help_text =
    "Usage: wave1d < INPUT\n"
    "       wave1d --help | -h | --version\n"
    "\n"
    "Evolves the one-dimensional scalar wave equation on a uniform grid. Besides\n"
    "the options above it takes no arguments: it asks for twelve values on\n"
    "standard input, one per line, in this order (what follows a value on its\n"
    "line is ignored):\n"
    "\n"
    "   1 xmin       real     left end of the domain (coordinate of point 0)\n"
    "   2 xmax       real     right end of the domain (coordinate of point nx)\n"
    "   3 nx         integer  number of grid intervals; points 0..nx\n"
    "   4 courant    real     Courant factor dt/dx; stable up to 2 divided by the\n"
    "                         largest |alpha - beta| or |alpha + beta| on the grid\n"
    "                         (2 for lapse 1 and shift 0)\n"
    "   5 nt         integer  number of time steps; 0 or less: none\n"
    "   6 boundtype  integer  1 periodic (nx >= 2), 2 outgoing (nx >= 3),\n"
    "                         anything else none\n"
    "   7 amplitude  real     height of the initial gaussian\n"
    "   8 width      real     width of the initial gaussian\n"
    "   9 center     real     position of the initial gaussian\n"
    "  10 every_1D   integer  output interval in steps; 0: time zero only;\n"
    "                         negative: as its magnitude\n"
    "  11 lapsetype  integer  0: lapse 1; anything else: 0.25*tanh(10x) + 0.75\n"
    "  12 shifttype  integer  0, 1, 2, 3: shift 0, 0.5, 1, 1.2; 4: shift x;\n"
    "                         anything else: 0\n"
    "\n"
    "Reals may have an exponent with E or D (1.0d-2); integers are 32-bit.\n"
    "\n"
    "It writes:\n"
    "  standard output  the prompts, six summary lines (xmin=, xmax=, center=,\n"
    "                   dx=, dt=, courant=) and a table of the time and the\n"
    "                   largest phi at time zero and every every_1D steps\n"
    "  phi.xl           for every output time, time zero included, \"#Time = \" and\n"
    "                   the time, then x and phi at every fourth grid point\n"
    "  phi.xtl          for every output time after zero, time, x and phi at\n"
    "                   every fourth grid point\n"
    "  standard error   failures, and warnings beginning \"wave1d: warning: \" when\n"
    "                   a run cannot be trusted (a Courant factor above the\n"
    "                   stability limit, an outgoing boundary that cannot hold,\n"
    "                   phi not finite); the run goes on\n"
    "phi.xl and phi.xtl are created or emptied in the current directory; they\n"
    "write a phi of magnitude not above 1e-50, or NaN, as zero.\n"
    "\n"
    "Exit status:\n"
    "  0              complete run\n"
    "  1              the grid does not fit in memory\n"
    "  2              nx too large to compute the grid's size (2147483647)\n"
    "  3              a value on standard input could not be read\n"
    "  4              standard output or a profile file could not be created or\n"
    "                 written\n"
    "  5              an argument other than --help, -h or --version\n"
    "  129, 130, 143  interrupted by SIGHUP, SIGINT, SIGTERM during the run; the\n"
    "                 files hold the whole output steps up to then\n"
    "\n"
    "Example:\n"
    "  wave1d < examples/outgoing_pulse.in\n";

// Longest part of an unexpected argument shown in the message.
constexpr std::size_t shown_argument = 64;

bool is_option(std::string_view argument) {
    return argument == "--help" || argument == "-h" || argument == "--version";
}

}  // namespace

program_request read_command_line(int argc, const char* const* argv) {
    if (argc <= 1) return program_request::run;
    const std::string_view first = argv[1];
    if (argc == 2 && (first == "--help" || first == "-h")) return program_request::help;
    if (argc == 2 && first == "--version") return program_request::version;

    const std::string_view unexpected = is_option(first) ? argv[2] : first;
    std::string shown = quoted(unexpected.substr(0, shown_argument));
    if (unexpected.size() > shown_argument) shown += "...";
    throw run_failure{exit_usage, "wave1d: unexpected argument " + shown +
                                      ": the values are read from standard input, as in " +
                                      std::string(example) + " (see wave1d --help)"};
}

void print_help(std::FILE* out) {
    write_console(out, help_text);
    flush_console(out);
}

void print_version(std::FILE* out) {
    write_console(out, "wave1d " WAVE1D_VERSION "\n");
    flush_console(out);
}
