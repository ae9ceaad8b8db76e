// Output throughput: the scientific field (fast path, exact to_chars path, and a printf-style
// formatter for comparison) in MB of field text per second, whole profile steps written to
// /dev/null, and the row of norms.tsv that an output step adds with --norms.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "evolution/norms.hpp"
#include "grid/grid.hpp"
#include "output/format_sci.hpp"
#include "output/norms_file.hpp"
#include "output/profile_files.hpp"

namespace {

namespace fs = std::filesystem;

struct field_shape {
    int w;
    int d;
};

constexpr field_shape shapes[] = {{9, 2}, {14, 6}, {16, 8}};

// The values a profile step formats: grid coordinates on [-10, 10] and a gaussian.
const std::vector<double>& profile_values() {
    static const std::vector<double> values = [] {
        std::vector<double> v;
        const double dx = 20.0 / 20000;
        for (int i = 0; i <= 20000; i += 4) {
            const double x = -10.0 + dx * i;
            v.push_back(x);
            v.push_back(std::exp(-x * x) * 0.99);
        }
        return v;
    }();
    return values;
}

// Finite doubles drawn from their bit patterns: every exponent, subnormals included.
const std::vector<double>& random_values() {
    static const std::vector<double> values = [] {
        std::mt19937_64 random(42);
        std::vector<double> v;
        while (v.size() < 10000) {
            const double x = std::bit_cast<double>(random());
            if (std::isfinite(x)) v.push_back(x);
        }
        return v;
    }();
    return values;
}

// A straightforward formatter: snprintf("%.*E"), then the three-digit exponent without its
// letter, right-aligned. NaN and the infinities are left to snprintf, as they take no part in
// the timing.
void format_printf_style(char* out, double v, int w, int d) {
    char text[max_sci_width + 16];
    int length = std::snprintf(text, sizeof text, "%.*E", d, v);
    char* e = static_cast<char*>(std::memchr(text, 'E', static_cast<std::size_t>(length)));
    if (e != nullptr && text + length - (e + 2) >= 3) {
        std::memmove(e, e + 1, static_cast<std::size_t>(text + length - e));
        --length;
    }
    std::memset(out, ' ', static_cast<std::size_t>(w - length));
    std::memcpy(out + (w - length), text, static_cast<std::size_t>(length));
}

enum class formatter { fast, exact, printf_style };

template <void (*format)(char*, double, int, int)>
void format_all(const std::vector<double>& values, field_shape shape) {
    char field[max_sci_width];
    for (const double v : values) {
        format(field, v, shape.w, shape.d);
        benchmark::DoNotOptimize(field);
    }
}

void format_benchmark(benchmark::State& state, formatter which, const std::vector<double>* values) {
    const field_shape shape = shapes[state.range(0)];
    std::size_t fields = 0;
    for (auto _ : state) {
        switch (which) {
            case formatter::fast:
                format_all<format_sci_into>(*values, shape);
                break;
            case formatter::exact:
                format_all<format_sci_exact_into>(*values, shape);
                break;
            case formatter::printf_style:
                format_all<format_printf_style>(*values, shape);
                break;
        }
        fields += values->size();
    }
    const double bytes = static_cast<double>(fields) * shape.w;
    state.SetLabel("w " + std::to_string(shape.w) + ", d " + std::to_string(shape.d));
    // "bytes" reads as decimal MB/s with the M prefix; "per_field" is the time of one field.
    state.counters["bytes"] =
        benchmark::Counter(bytes, benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
    state.counters["per_field"] = benchmark::Counter(
        static_cast<double>(fields), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// format_fast_profile/0 .. format_printf_random/2: each formatter on each set of values, for
// the three shapes.
const bool format_benchmarks_registered = [] {
    const std::pair<const char*, formatter> formatters[] = {{"fast", formatter::fast},
                                                            {"exact", formatter::exact},
                                                            {"printf", formatter::printf_style}};
    const std::pair<const char*, const std::vector<double>*> sets[] = {
        {"profile", &profile_values()}, {"random", &random_values()}};
    for (const auto& [set_name, values] : sets) {
        for (const auto& [formatter_name, which] : formatters) {
            const std::string name = std::string("format_") + formatter_name + "_" + set_name;
            benchmark::RegisterBenchmark(name.c_str(), format_benchmark, which, values)
                ->DenseRange(0, 2);
        }
    }
    return true;
}();

// A grid of nx intervals on [-10, 10] holding a gaussian phi, its derivative in psi and half of
// it in pi.
FieldSet gaussian_fields(RunParameters& params, std::int64_t nx) {
    params.nx = static_cast<std::int32_t>(nx);
    params.xmin = -10.0;
    params.xmax = 10.0;
    params.courant = 0.5;
    FieldSet fields = create_grid(params);
    for (std::size_t i = 0; i < fields.phi.size(); ++i) {
        const double x = fields.x.data()[i];
        fields.phi.data()[i] = std::exp(-x * x);
        fields.psi.data()[i] = -2 * x * fields.phi.data()[i];
        fields.pi.data()[i] = 0.5 * fields.phi.data()[i];
    }
    return fields;
}

// A fresh folder under /tmp, the current directory while it exists; removed with its files.
struct scratch_folder {
    fs::path dir;
    fs::path previous = fs::current_path();
    scratch_folder() {
        char pattern[] = "/tmp/wave1d_bench_XXXXXX";
        dir = ::mkdtemp(pattern);
        fs::current_path(dir);
    }
    ~scratch_folder() {
        fs::current_path(previous);
        fs::remove_all(dir);
    }
};

// One output step of a run with nx = state.range(0) on [-10, 10] with a gaussian phi, formatted
// on state.range(1) threads: the text is written to /dev/null through the profile files'
// buffers, so the figure is formatting plus the write calls, without the disk.
void write_profile_step(benchmark::State& state) {
    RunParameters params;
    FieldSet fields = gaussian_fields(params, state.range(0));
    scratch_folder scratch;

    // The bytes of one step, from one step written to real files.
    {
        ProfileFiles files = open_profile_files();
        write_profile(files, 0.5, fields.x, fields.phi);
        close_profile_files(files);
    }
    const double step_bytes =
        static_cast<double>(fs::file_size("phi.xl") + fs::file_size("phi.xtl"));
    fs::remove("phi.xl");
    fs::remove("phi.xtl");
    fs::create_symlink("/dev/null", "phi.xl");
    fs::create_symlink("/dev/null", "phi.xtl");

    {
        const auto threads = static_cast<int>(state.range(1));
        ProfileFiles files = open_profile_files(threads);
        double time = 0.0;
        for (auto _ : state) {
            time = time + 0.0005;
            write_profile(files, time, fields.x, fields.phi, threads);
        }
        close_profile_files(files);
    }

    state.counters["bytes"] =
        benchmark::Counter(step_bytes * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
    release_fields(fields);
}

BENCHMARK(write_profile_step)
    ->ArgsProduct({{20000, 200000}, {1, 2}})
    ->ArgNames({"nx", "threads"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// What --norms adds to one output step of a run with nx = state.range(0) on [-10, 10] with a
// gaussian pulse: the norms of the fields, measured on one thread, and their row, written
// through the buffer of norms.tsv to /dev/null.
void norms_step(benchmark::State& state) {
    RunParameters params;
    FieldSet fields = gaussian_fields(params, state.range(0));
    scratch_folder scratch;
    fs::create_symlink("/dev/null", "norms.tsv");
    {
        NormsFile norms = open_norms_file();
        double time = 0.0;
        for (auto _ : state) {
            time = time + 0.0005;
            write_norms_row(norms, time, measure_norms(fields, params.nx, params.dx));
        }
        close_norms_file(norms);
    }
    state.counters["ns_per_point"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(fields.phi.size()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    release_fields(fields);
}

BENCHMARK(norms_step)
    ->Arg(20000)
    ->Arg(2000000)
    ->ArgName("nx")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace
