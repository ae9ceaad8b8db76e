// Fuzzes the whole run with --norms: the dialogue, the grid, the evolution, both profile files
// and norms.tsv, on arbitrary input text, in a working directory of its own (entered only while
// a run is checked, so that the fuzzer's own relative paths keep their meaning). Inputs that ask
// for a large grid or many steps are skipped so that every run stays short.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/run_failure.hpp"
#include "fuzz_check.hpp"
#include "run/parameter_input.hpp"
#include "run/run_driver.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::int32_t largest_nx = 2000;
constexpr std::int32_t largest_nt = 200;

constexpr const char* stale_text = "left from an earlier run\n";
constexpr const char* first_time_line = "#Time =   0.000000E+00\n";
constexpr const char* closing_rule = "  ------------------------------\n";

fs::path work_dir;
fs::path start_dir;

void remove_work_dir() {
    std::error_code ignored;
    fs::remove_all(work_dir, ignored);
}

std::string read_whole(const char* name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_whole(const char* name, const char* text) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << text;
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Reads the parameters the way the program will; false when it will refuse the input.
bool pre_parse(const std::string& input, RunParameters& params) {
    static std::FILE* discard = std::fopen("/dev/null", "w");
    require(discard != nullptr, "/dev/null opens");
    std::istringstream in(input);
    try {
        params = read_parameters(in, discard, discard);
        return true;
    } catch (const run_failure&) {
        return false;
    }
}

// Rows of the progress table: time zero, then every |every_1D|-th of the nt steps.
std::int64_t expected_rows(const RunParameters& p) {
    if (p.nt < 1 || p.every_1D == 0) return 1;
    const std::int64_t interval = p.every_1D < 0 ? -std::int64_t{p.every_1D} : p.every_1D;
    return 1 + p.nt / interval;
}

// Lines of the progress table: 32 characters between "  |  " and "|".
std::int64_t table_rows(const std::string& console) {
    std::istringstream lines(console);
    std::string line;
    std::int64_t rows = 0;
    while (std::getline(lines, line)) {
        if (line.size() == 32 && line.rfind("  |  ", 0) == 0 && line.back() == '|') ++rows;
    }
    return rows;
}

// The phi column (the last 16 characters) of every record of the given length is never NaN.
bool phi_never_nan(const std::string& text, std::size_t record_length) {
    const std::string nan_field = std::string(13, ' ') + "NaN";
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() == record_length && line.substr(record_length - 16) == nan_field) {
            return false;
        }
    }
    return true;
}

// Every line of norms.tsv after the header holds eight numbers that read back whole, each
// separated from the next by one tab.
bool norms_rows_read_back(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        if (count_of(line, "\t") != 7) return false;
        const char* p = line.c_str();
        for (int column = 0; column < 8; ++column) {
            char* end = nullptr;
            std::strtod(p, &end);
            if (end == p || *end != (column < 7 ? '\t' : '\0')) return false;
            p = end + 1;
        }
    }
    return true;
}

// Runs the program on input in the current directory and checks the console, the status and
// the files it leaves behind.
void check_run(const std::string& input, bool readable, const RunParameters& params) {
    write_whole("phi.xl", stale_text);
    write_whole("phi.xtl", stale_text);
    write_whole("norms.tsv", stale_text);

    char* buffer = nullptr;
    std::size_t buffer_size = 0;
    std::FILE* console = open_memstream(&buffer, &buffer_size);
    require(console != nullptr, "open_memstream works");
    char* warnings_buffer = nullptr;
    std::size_t warnings_size = 0;
    std::FILE* warnings = open_memstream(&warnings_buffer, &warnings_size);
    require(warnings != nullptr, "open_memstream works");
    std::istringstream in(input);
    int status = 0;
    try {
        run_wave1d(in, console, warnings, true);
    } catch (const run_failure& failure) {
        status = failure.status;
    }
    std::fclose(console);
    const std::string text(buffer, buffer_size);
    std::free(buffer);
    std::fclose(warnings);
    const std::string warned(warnings_buffer, warnings_size);
    std::free(warnings_buffer);

    require(count_of(warned, "\n") == count_of(warned, "wave1d: warning: ") &&
                (warned.empty() || warned.rfind("wave1d: warning: ", 0) == 0),
            "standard error holds only whole warning lines");
    require(count_of(warned, "phi is not finite") <= 1, "phi is reported not finite once at most");
    // The dialogue warns of a decimal comma as it reads, also before a later value is refused.
    const std::size_t about_commas = count_of(warned, ": a comma ends a value\n");
    require(readable || count_of(warned, "wave1d: warning: ") == about_commas,
            "a refused input warns of nothing but a decimal comma");
    if (params.nt < 1) {
        require(count_of(warned, "wave1d: warning: ") ==
                    count_of(warned, "phi is not finite") + about_commas,
                "a run that takes no step warns of nothing but phi and a decimal comma");
    }

    const std::string xl = read_whole("phi.xl");
    const std::string xtl = read_whole("phi.xtl");
    const std::string norms = read_whole("norms.tsv");
    if (!readable) {
        require(status == exit_input, "input the dialogue refuses stops the run with exit_input");
        require(xl == stale_text && xtl == stale_text && norms == stale_text,
                "a refused input touches no file");
        return;
    }
    require(status == 0, "a small grid with readable input completes");
    const std::string rule = closing_rule;
    require(text.size() >= rule.size() && text.substr(text.size() - rule.size()) == rule,
            "a complete run ends with the closing rule");
    const std::int64_t rows = expected_rows(params);
    require(table_rows(text) == rows, "one table row at time zero and one per output step");
    require(xl.rfind(first_time_line, 0) == 0, "phi.xl begins with the block of time zero");
    require(static_cast<std::int64_t>(count_of(xl, "#Time = ")) == rows,
            "phi.xl has one block per table row");
    require(count_of(xtl, stale_text) == 0, "phi.xtl is emptied");
    require(phi_never_nan(xl, 32) && phi_never_nan(xtl, 48), "NaN in phi is written as zero");
    require(norms.rfind("# time\t", 0) == 0 &&
                static_cast<std::int64_t>(count_of(norms, "\n")) == 1 + rows,
            "norms.tsv has its header and one row per table row");
    require(norms_rows_read_back(norms), "every row of norms.tsv holds eight numbers");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (fs::temp_directory_path() / "wave1d-fuzz-XXXXXX").string();
    require(mkdtemp(pattern.data()) != nullptr, "a working directory can be made");
    work_dir = pattern;
    start_dir = fs::current_path();
    std::atexit(remove_work_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    RunParameters params;
    const bool readable = pre_parse(input, params);
    // -1 keeps a skipped input out of the corpus.
    if (readable && (params.nx > largest_nx || params.nt > largest_nt)) return -1;
    fs::current_path(work_dir);
    check_run(input, readable, params);
    fs::current_path(start_dir);
    return 0;
}
