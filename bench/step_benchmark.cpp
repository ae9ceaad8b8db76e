// Time step throughput per grid point: the pass-by-pass step, the sweep with every kernel the
// processor has (each instruction set, dividing with the divider and, where the processor has
// the multiply-adds, exactly without it in the first iteration or in all three), on one thread
// and split over two, and a copy loop on one and two threads
// that moves the same 64 bytes per point as a step at least must (read phi, psi, pi, alpha and
// beta; write phi, psi and pi), which is the floor the sweep is measured against. Counters:
// per_point (time per point and step, wall clock) and bytes_per_second (64 bytes per point and
// step). The threaded cases show what two threads give on an otherwise idle machine; the program
// itself checks as it runs whether they pay.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "evolution/icn_step.hpp"
#include "grid/grid.hpp"
#include "grid/initial_data.hpp"
#include "sweep/step_layout.hpp"

namespace {

constexpr double bytes_per_point = 64.0;

// Every this many steps the fields go back to the initial data (outside the timing), so that
// every size is measured on the values of a typical run, not on a pulse long gone.
constexpr std::int64_t steps_per_run = 200;

// The program's grid with nx intervals on [-10, 10]: a gaussian of width 1, the tanh lapse,
// shift 0.5, outgoing boundaries, Courant factor 0.5.
struct bench_run {
    RunParameters params;
    FieldSet fields;
    std::vector<double> phi0, psi0, pi0;

    explicit bench_run(std::int32_t nx) {
        params.xmin = -10.0;
        params.xmax = 10.0;
        params.nx = nx;
        params.courant = 0.5;
        params.boundtype = 2;
        params.amplitude = 1.0;
        params.width = 1.0;
        params.lapsetype = 1;
        params.shifttype = 1;
        fields = create_grid(params);
        set_initial_data(params, fields);
        phi0.assign(fields.phi.data(), fields.phi.data() + fields.phi.size());
        psi0.assign(fields.psi.data(), fields.psi.data() + fields.psi.size());
        pi0.assign(fields.pi.data(), fields.pi.data() + fields.pi.size());
    }

    void restart() {
        for (std::size_t k = 0; k < phi0.size(); ++k) {
            fields.phi.data()[k] = phi0[k];
            fields.psi.data()[k] = psi0[k];
            fields.pi.data()[k] = pi0[k];
        }
    }
};

void report(benchmark::State& state, std::int32_t nx) {
    const double point_steps =
        static_cast<double>(nx + 1) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(point_steps * bytes_per_point));
    state.counters["per_point"] =
        benchmark::Counter(point_steps, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

template <class Step>
void run_steps(benchmark::State& state, Step step) {
    const auto nx = static_cast<std::int32_t>(state.range(0));
    bench_run run(nx);
    std::int64_t steps = 0;
    for (auto _ : state) {
        step(run.fields, run.params);
        benchmark::ClobberMemory();
        if (++steps % steps_per_run == 0) {
            state.PauseTiming();
            run.restart();
            state.ResumeTiming();
        }
    }
    report(state, nx);
}

void step_passes(benchmark::State& state) {
    run_steps(state, icn_step);
}

void step_sweep(benchmark::State& state, sweep_method method, int threads) {
    run_steps(state, [method, threads](FieldSet& f, const RunParameters& p) {
        step_layout layout;
        layout.method = method;
        layout.parts = threads;
        make_step(f, p, layout);
    });
}

// Reads phi, psi, pi, alpha and beta and writes phi, psi and pi in place, once per point, split
// into one contiguous range per thread.
void copy_loop(benchmark::State& state, int threads) {
    const auto nx = static_cast<std::int32_t>(state.range(0));
    bench_run run(nx);
    double* phi = run.fields.phi.data();
    double* psi = run.fields.psi.data();
    double* pi = run.fields.pi.data();
    const double* alpha = run.fields.alpha.data();
    const double* beta = run.fields.beta.data();
    const std::size_t n = run.fields.phi.size();
    for (auto _ : state) {
#if defined(_OPENMP)
#pragma omp parallel for num_threads(threads) schedule(static)
#endif
        for (std::size_t k = 0; k < n; ++k) {
            const double phi_k = phi[k];
            phi[k] = psi[k];
            psi[k] = pi[k];
            pi[k] = phi_k + (alpha[k] - beta[k]);
        }
        benchmark::ClobberMemory();
    }
    report(state, nx);
}

const std::vector<std::int64_t> sizes = {1000, 10000, 100000, 1000000, 10000000};

BENCHMARK(step_passes)->ArgsProduct({sizes})->ArgName("nx");

// The sweep for every kernel this processor has (each instruction set with each way of dividing,
// the candidates of the program's step plan), on one thread and on two, named after them as
// WAVE1D_STEP names them; the copy loop on one and two threads.
const bool sweeps_registered = [] {
    sweep_method methods[max_sweep_methods];
    const int count = supported_sweep_methods(methods);
    for (int threads : {1, 2}) {
        for (int k = 0; k < count; ++k) {
            const sweep_method method = methods[k];
            const std::string name =
                "step_sweep_" + sweep_method_name(method) + "/threads:" + std::to_string(threads);
            benchmark::RegisterBenchmark(name.c_str(), step_sweep, method, threads)
                ->ArgsProduct({sizes})
                ->ArgName("nx")
                ->UseRealTime();
        }
    }
    for (int threads : {1, 2}) {
        const std::string name = "copy_loop/threads:" + std::to_string(threads);
        benchmark::RegisterBenchmark(name.c_str(), copy_loop, threads)
            ->ArgsProduct({sizes})
            ->ArgName("nx")
            ->UseRealTime();
    }
    return true;
}();

}  // namespace
