#include "output/console_report.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "output/console.hpp"
#include "output/format_sci.hpp"

namespace {

constexpr std::string_view header_rule = "  -------------------------------\n";
constexpr std::string_view header_text = "  |     Time     |  Maxval(phi) |\n";
constexpr std::string_view closing_rule = "  ------------------------------\n";

// Row layout (A5,ES9.2,A6,ES9.2,A3): " |  " in 5 columns, the time, "   | " in 6 columns,
// the maximum, "  |".
constexpr std::string_view row_open = "  |  ";
constexpr std::string_view row_middle = "    | ";
constexpr std::string_view row_close = "  |";

void print_summary_line(std::FILE* out, std::string_view label, double v) {
    char number[64];
    char line[128];
    std::size_t n = 0;
    line[n++] = ' ';
    std::memcpy(line + n, label.data(), label.size());
    n += label.size();
    line[n++] = ' ';
    const std::string_view text = summary_number(v, number);
    std::memcpy(line + n, text.data(), text.size());
    n += text.size();
    line[n++] = '\n';
    write_console(out, std::string_view(line, n));
}

}  // namespace

std::string_view summary_number(double v, char (&buffer)[64]) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer));
}

double maxval(const GridFunction& f) {
    const std::size_t n = f.size();
    const double* v = f.data();
    std::size_t first = 0;
    while (first < n && std::isnan(v[first]))
        ++first;
    if (first == n) {
        return n == 0 ? std::numeric_limits<double>::lowest()
                      : std::numeric_limits<double>::quiet_NaN();
    }
    double largest = -std::numeric_limits<double>::infinity();
    for (std::size_t k = first; k < n; ++k) {
        if (v[k] > largest) largest = v[k];
    }
    return largest;
}

void print_grid_summary(const RunParameters& params, std::FILE* out) {
    print_summary_line(out, "xmin=", params.xmin);
    print_summary_line(out, "xmax=", params.xmax);
    print_summary_line(out, "center=", params.center);
    print_summary_line(out, "dx=", params.dx);
    print_summary_line(out, "dt=", params.dt);
    print_summary_line(out, "courant=", params.dt / params.dx);
}

void print_table_header(std::FILE* out) {
    write_console(out, header_rule);
    write_console(out, header_text);
    write_console(out, header_rule);
}

void print_table_row(double time, const GridFunction& phi, std::FILE* out) {
    constexpr std::size_t length = row_open.size() + 9 + row_middle.size() + 9 + row_close.size();
    char line[length + 1];
    char* p = line;
    std::memcpy(p, row_open.data(), row_open.size());
    p += row_open.size();
    format_sci_into(p, time, 9, 2);
    p += 9;
    std::memcpy(p, row_middle.data(), row_middle.size());
    p += row_middle.size();
    format_sci_into(p, maxval(phi), 9, 2);
    p += 9;
    std::memcpy(p, row_close.data(), row_close.size());
    p += row_close.size();
    *p++ = '\n';
    write_console(out, std::string_view(line, length + 1));
}

void print_closing_rule(std::FILE* out) {
    write_console(out, closing_rule);
}
