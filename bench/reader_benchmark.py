#!/usr/bin/python3
"""Times wave1d.read_run against numpy.loadtxt of the same phi.xl, the two in turn.

    /usr/bin/python3 bench/reader_benchmark.py [--program build/wave1d] [--rounds 9] [--nx N]

Runs the built program once in a temporary folder (by default nx = 20,000: 201 profiles of
5,001 points, with norms), then reads the folder with read_run and the x and phi columns of
phi.xl with numpy.loadtxt, alternately, and prints the median of each, the ratio of the
medians, the range of the ratios of the pairs, and the processor.
"""

import argparse
import os
import statistics
import sys
import tempfile
import time

import numpy

CHECKOUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(CHECKOUT, "python"))
import wave1d  # noqa: E402  (the checkout's package, found through the line above)


def processor():
    """The model name, family and model of the first processor of /proc/cpuinfo."""
    fields = {}
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            name, _, value = line.partition(":")
            fields.setdefault(name.strip(), value.strip())
    return (f"{fields.get('model name', 'unknown')} (family {fields.get('cpu family', '?')}, "
            f"model {fields.get('model', '?')}), {os.cpu_count()} processors")


def seconds(read):
    start = time.perf_counter()
    read()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[1].strip())
    parser.add_argument("--program", default=os.path.join(CHECKOUT, "build", "wave1d"))
    parser.add_argument("--rounds", type=int, default=9, help="pairs of reads (default: 9)")
    parser.add_argument("--nx", type=int, default=20000, help="grid intervals (default: 20000)")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="wave1d-reader-") as folder:
        run = wave1d.run(folder=folder, program=args.program, norms=True, xmin=-10, xmax=10,
                         nx=args.nx, courant=0.5, nt=2000, boundtype=1, amplitude=1, width=1,
                         center=0, every_1D=10, lapsetype=0, shifttype=0)
        profiles = os.path.join(folder, "phi.xl")
        table = numpy.loadtxt(profiles)
        assert numpy.array_equal(run.phi.ravel(), table[:, 1]), "read_run reads other numbers"
        print(f"{len(run.times)} profiles of {run.phi.shape[1]} points, "
              f"{os.path.getsize(profiles) / 1e6:.1f} MB")
        pairs = [(seconds(lambda: wave1d.read_run(folder)),
                  seconds(lambda: numpy.loadtxt(profiles))) for _ in range(args.rounds)]
    reader, loadtxt = (statistics.median(column) for column in zip(*pairs))
    ratios = sorted(a / b for a, b in pairs)
    print(f"read_run {reader:.3f} s, numpy.loadtxt {loadtxt:.3f} s (medians of {args.rounds})")
    print(f"ratio {reader / loadtxt:.2f} (pairs {ratios[0]:.2f} to {ratios[-1]:.2f})")
    print(f"numpy {numpy.__version__}, Python {sys.version.split()[0]}, {processor()}")
    with open("/proc/loadavg") as load:
        print(f"load average {load.read().split()[0]}")


if __name__ == "__main__":
    main()
