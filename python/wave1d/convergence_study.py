"""Self-convergence of wave1d: three runs with dx halved and halved again, compared at every
output time; and the convergence command, which prints the comparison at the last one.

    import wave1d
    table = wave1d.convergence(base="examples/outgoing_pulse.in")
    table[["time", "q_l2", "q_max"]]

The runs multiply nx, nt and every_1D by 1, 2 and 4 together: the same domain, Courant factor
and output times. The factor

    Q = |phi(dx) - phi(dx/2)| / |phi(dx/2) - phi(dx/4)|

on the points that all three sample is 4 for this second-order scheme once dx resolves the
pulse; so are the ratios of the errors against the exact solution, where one exists, and of
the constraint's norms, which norms.tsv holds.
"""

import dataclasses
import math
import os
import shutil
import sys
import tempfile
import warnings

from .commands import standalone
from .inputs import NAMES, InputError, read_input, time_step, value_of
from .runs import RunFailed, RunWarning, find_program, input_texts
from .runs import run as run_program

__all__ = ["convergence", "study", "scaled_texts", "plot_convergence", "ConvergenceError",
           "configure", "execute", "main"]

SCALES = (1, 2, 4)
INT_MAX = 2**31 - 1
# The shift of each constant shifttype; any other than these and 4 means none.
SHIFTS = {1: 0.5, 2: 1.0, 3: 1.2}
VARYING_SHIFT = 4
# The pulse counts as inside the domain while this many widths on either side of each half are.
PULSE_WIDTHS = 4
# The program's warning that phi stopped being finite: its profiles then hold zeros.
NOT_FINITE_WARNING = "phi is not finite at time "


class ConvergenceError(ValueError):
    """The input cannot be studied, or the runs cannot be compared."""


@dataclasses.dataclass
class Exact:
    """The exact solution [f(x + (beta+1) t) + f(x + (beta-1) t)] / 2 for a lapse of 1, a
    constant shift beta and the gaussian f with pi = 0; why there is none when reason is set."""
    beta: float = 0.0
    amplitude: float = 0.0
    width: float = 0.0
    center: float = 0.0
    low: float = 0.0
    high: float = 0.0
    reason: str = ""
    time: float = 0.0  # the last output time compared

    def phi(self, x, t):
        import numpy

        def f(y):
            return self.amplitude * numpy.exp(-((y - self.center) / self.width) ** 2)

        return (f(x + (self.beta + 1) * t) + f(x + (self.beta - 1) * t)) / 2

    def holds(self, t):
        """Whether both halves of the pulse are still inside the domain at time t: at the
        boundaries the solution is no longer the free one."""
        if self.reason:
            return False
        reach = PULSE_WIDTHS * self.width
        halves = (self.center - (self.beta + 1) * t, self.center - (self.beta - 1) * t)
        return all(self.low <= c - reach and c + reach <= self.high
                   for c in (self.center,) + halves)


@dataclasses.dataclass
class Study:
    """Three runs compared: the runs' inputs (texts by name) and Runs, the shared points x,
    the norms (L2, max) of the differences and errors at each shared output time, the exact
    solution, the program's warnings of the coarsest run, and the table of factors."""
    inputs: list
    runs: list
    x: "object"
    norms: dict
    exact: Exact
    warnings: list
    table: "object"


def scaled_texts(texts, scale):
    """The value texts of the run refined by scale: nx, nt and every_1D times scale. A periodic
    grid repeats every nx - 2 intervals, a period that would change with nx: there the refined
    grid gets scale (nx - 2) + 2 intervals of dx / scale, and xmax moves to keep the period."""
    scaled = dict(texts)
    nx = value_of("nx", texts["nx"])
    for name in ("nx", "nt", "every_1D"):
        scaled[name] = str(scale * value_of(name, texts[name]))
    if value_of("boundtype", texts["boundtype"]) == 1 and scale != 1:
        xmin, xmax = value_of("xmin", texts["xmin"]), value_of("xmax", texts["xmax"])
        fine_nx = scale * (nx - 2) + 2
        scaled["nx"] = str(fine_nx)
        scaled["xmax"] = f"{xmin + fine_nx * ((xmax - xmin) / nx / scale):.15g}"
    return scaled


def _checked(texts):
    """The twelve values of texts as numbers; ConvergenceError when the runs could not be
    compared."""
    values = {name: value_of(name, texts[name]) for name in NAMES}
    nx, nt, every = values["nx"], values["nt"], values["every_1D"]
    if nx < 4:
        raise ConvergenceError(f"nx = {nx}: the coarsest run needs at least two sampled points "
                               "(nx >= 4)")
    if 4 * nx >= INT_MAX or 4 * nt > INT_MAX:
        raise ConvergenceError(f"nx = {nx} or nt = {nt} is too large to be multiplied by 4")
    if every == 0:
        raise ConvergenceError("every_1D = 0: the runs write no profile after time zero")
    if nt < abs(every):
        raise ConvergenceError(f"nt = {nt} and every_1D = {every}: the runs write no profile "
                               "after time zero")
    return values


def exact_solution(values):
    """The Exact solution of the input's values, with its reason set where there is none."""
    if values["lapsetype"] != 0:
        return Exact(reason="the lapse is not 1")
    if values["shifttype"] == VARYING_SHIFT:
        return Exact(reason="the shift is not constant")
    if values["width"] == 0:
        return Exact(reason="the width is 0")
    low, high = sorted((values["xmin"], values["xmax"]))
    return Exact(SHIFTS.get(values["shifttype"], 0.0), values["amplitude"],
                 abs(values["width"]), values["center"], low, high)


def _not_finite(run, nx, caught):
    """Why the run's phi is not finite, or None: the profile files write NaN as zero, so the
    console table (a largest value of NaN or an infinity) or the program's warning tells."""
    try:
        with open(os.path.join(run.folder, "console.txt"), encoding="utf-8",
                  errors="replace") as console:
            for line in console:
                cells = line.split("|")
                if len(cells) == 4 and cells[2].strip().lstrip("-") in ("NaN", "Infinity"):
                    return (f"the run at nx = {nx} is not finite: its table shows "
                            f"{cells[2].strip()} at time {cells[1].strip()}; the profile "
                            "files write NaN as zero, so they cannot be compared (is the run "
                            "unstable?)")
    except FileNotFoundError:
        pass
    for warning in caught:
        if str(warning.message).startswith(NOT_FINITE_WARNING):
            return (f"the run at nx = {nx} is not finite, so its profiles cannot be compared "
                    f"(is the run unstable?): wave1d: warning: {warning.message}")
    return None


def _run_scaled(texts, scale, program, folder):
    """Runs the refined input in folder; returns the Run and the program's other warnings."""
    nx = texts["nx"]
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", RunWarning)
        try:
            run = run_program(folder=folder, program=program, norms=True, **texts)
        except RunFailed as failure:
            raise ConvergenceError(f"wave1d failed (exit status {failure.status}) at nx = "
                                   f"{nx}: {failure.stderr.strip()}") from None
    caught = [w for w in caught if issubclass(w.category, RunWarning)]
    why = _not_finite(run, nx, caught)
    if why:
        raise ConvergenceError(why)
    if len(run.times) < 2:
        raise ConvergenceError(f"the run at nx = {nx} wrote no profile after time zero")
    if not run.norms:
        raise ConvergenceError(f"the run at nx = {nx} wrote no norms.tsv")
    return run, [str(w.message) for w in caught]


def _norms(differences):
    """The L2 (root mean square) and max norms of each row."""
    import numpy

    largest = numpy.max(numpy.abs(differences), axis=1)
    # Scaled by the largest magnitude, so that the squares of huge values do not overflow.
    scale = numpy.where(largest > 0, largest, 1)
    l2 = largest * numpy.sqrt(numpy.mean((differences / scale[:, None]) ** 2, axis=1))
    return l2, largest


def _factor(a, b):
    """a / b where both are finite and b is above zero, NaN elsewhere."""
    import numpy

    with numpy.errstate(divide="ignore", invalid="ignore"):
        ok = numpy.isfinite(a) & numpy.isfinite(b) & (b > 0)
        return numpy.where(ok, a / numpy.where(ok, b, 1), numpy.nan)


def _constraint_column(name):
    """l2_constraint -> constraint_l2, max_abs_constraint -> constraint_max_abs."""
    return "_".join(["constraint"] + [part for part in name.split("_") if part != "constraint"])


def _compare(inputs, runs, values, caught):
    import numpy
    import pandas

    coarse, middle, fine = runs
    rows = min(len(run.times) for run in runs)
    rows = min([rows] + [len(run.norms["time"]) for run in runs])
    times = coarse.times[:rows]
    for run in runs[1:]:
        for other in (run.times[:rows], run.norms["time"][:rows]):
            if not numpy.allclose(other, times, rtol=1e-6, atol=0):
                raise ConvergenceError("the runs' output times differ")
    # The sampled points of the coarsest run (every fourth grid point) are every second and
    # every fourth sample of the finer ones. A periodic grid refined with its period kept can
    # end short of the coarsest one's last point: the comparison stops at the last shared one.
    points = min(len(coarse.x), (len(middle.x) - 1) // 2 + 1, (len(fine.x) - 1) // 4 + 1)
    if points < 2:
        raise ConvergenceError("fewer than two sampled points in common (the runs sample "
                               f"{len(coarse.x)}, {len(middle.x)}, {len(fine.x)})")
    x = coarse.x[:points]
    # x is written with nine significant digits; the three grids agree far closer.
    tolerance = 1e-7 * numpy.maximum(numpy.abs(x), 1)
    for run, step in ((middle, 2), (fine, 4)):
        apart = numpy.abs(run.x[:step * points:step] - x) > tolerance
        if apart.any():
            k = int(numpy.argmax(apart))
            raise ConvergenceError(f"the sampled points do not line up: x = {x[k]:.9g}, "
                                   f"{run.x[step * k]:.9g}")
    phi = [run.phi[:rows, :step * points:step] for run, step in zip(runs, SCALES)]
    for text, values_of_run in zip(inputs, phi):
        if not numpy.isfinite(values_of_run).all():
            raise ConvergenceError(f"the profiles of the run at nx = {text['nx']} hold a value "
                                   "that is not finite (is the run unstable?)")
    norms = {"12": _norms(phi[0] - phi[1]), "24": _norms(phi[1] - phi[2])}
    table = {"time": times,
             "q_l2": _factor(norms["12"][0], norms["24"][0]),
             "q_max": _factor(norms["12"][1], norms["24"][1])}
    exact = exact_solution(values)
    # The runs reach their output times by repeated addition; the exact solution is taken at
    # the times the steps stand for.
    steps = numpy.arange(rows) * abs(values["every_1D"])
    exact_times = steps * time_step(inputs[0])
    exact_times = numpy.where(numpy.isclose(exact_times, times, rtol=1e-6, atol=1e-12),
                              exact_times, times)
    holds = numpy.array([exact.holds(t) for t in exact_times])
    if not exact.reason and not holds[-1]:
        exact.reason = ("the pulse does not stay inside the domain up to time "
                        f"{exact_times[-1]:.9g}")
    exact.time = exact_times[-1]
    solution = exact.phi(x[None, :], exact_times[:, None]) if exact.width else 0 * phi[0]
    for label, values_of_run in zip(("e1", "e2", "e4"), phi):
        l2, largest = _norms(values_of_run - solution)
        norms[label] = (numpy.where(holds, l2, numpy.nan), numpy.where(holds, largest, numpy.nan))
    for k, kind in enumerate(("l2", "max")):
        table[f"error_{kind}_1_2"] = _factor(norms["e1"][k], norms["e2"][k])
        table[f"error_{kind}_2_4"] = _factor(norms["e2"][k], norms["e4"][k])
    for name in coarse.norms:
        if "constraint" in name:
            column = _constraint_column(name)
            c1, c2, c4 = (run.norms[name][:rows] for run in runs)
            table[f"{column}_1_2"] = _factor(c1, c2)
            table[f"{column}_2_4"] = _factor(c2, c4)
    return Study(inputs, runs, x, norms, exact, caught, pandas.DataFrame(table))


def study(texts, program, folder=None, on_run=None):
    """The Study of the twelve value texts (by name) with the program at its path: the runs in
    folder/dx1, dx2, dx4 (kept), or in a temporary folder (removed). on_run(scale, texts, run)
    is called as each run ends. Raises ConvergenceError when the runs cannot be compared."""
    values = _checked(texts)
    scratch = None
    if folder is None:
        folder = scratch = tempfile.mkdtemp(prefix="wave1d-convergence-")
    try:
        inputs, runs, caught = [], [], []
        for scale in SCALES:
            scaled = scaled_texts(texts, scale)
            run, warned = _run_scaled(scaled, scale, program,
                                      os.path.join(folder, f"dx{scale}"))
            # The other warnings (a Courant factor or a shift beyond what the scheme or the
            # boundaries allow) hold for all three runs alike: the coarsest run's are kept.
            if scale == 1:
                caught = warned
            inputs.append(scaled)
            runs.append(run)
            if on_run:
                on_run(scale, scaled, run)
        return _compare(inputs, runs, values, caught)
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)


def convergence(base=None, program=None, folder=None, **values):
    """A pandas DataFrame with a row per output time of three runs of the input (the twelve
    values by name, or the input file base with those given changed), nx, nt and every_1D
    times 1, 2 and 4:

    time; q_l2 and q_max, the self-convergence factor of phi on the shared points in the L2
    (root mean square) and max norms; error_l2_1_2, error_l2_2_4, error_max_1_2,
    error_max_2_4, the ratios of the errors against the exact solution of runs 1 and 2, 2 and
    4 (NaN where there is none: a lapse other than 1, a varying shift, the pulse no longer
    inside the domain); and for each constraint norm of norms.tsv, its ratios between
    neighbouring runs (constraint_l2_1_2 ... for l2_constraint).

    The runs are kept in folder/dx1, dx2 and dx4 when folder is given. The program's warnings
    of the coarsest run become RunWarning. Raises ConvergenceError (a ValueError) when the
    input cannot be studied or a run is not finite; InputError for a value the program could
    not read."""
    result = study(input_texts(values, base), find_program(program), folder)
    for message in result.warnings:
        warnings.warn(message, RunWarning, stacklevel=2)
    return result.table


def plot_convergence(table, ax=None):
    """Axes with the factors of a convergence table against time, and the 4 of a second-order
    scheme."""
    if ax is None:
        from matplotlib import pyplot

        ax = pyplot.subplots(figsize=(10, 7))[1]
    for name in table.columns[1:]:
        if table[name].notna().any():
            style = "-" if name.startswith("q_") else "--" if name.startswith("error") else ":"
            ax.plot(table["time"], table[name], style, marker="o" if len(table) <= 100 else None,
                    ms=4, label=name)
    ax.axhline(4, color="black", lw=0.8)
    ax.set(xlabel="time", ylabel="convergence factor",
           title="convergence factors against time; 4 for a second-order scheme")
    ax.grid(color="#d8d8d8")
    ax.legend(fontsize="small")
    return ax


# The command.

SECOND_ORDER = "; 4 for a second-order scheme"


def _row(label, l2, largest):
    return f"  {label:<28}  {l2:<12.4e}  {largest:<12.4e}".rstrip()


def _ratio(a, b, zero="undefined (zero difference)"):
    if not (math.isfinite(a) and math.isfinite(b)):
        return "undefined (not finite)"
    return f"{a / b:.4f}" if b > 0 else zero


def report(result):
    """The lines that the convergence command prints after the table of runs."""
    x, norms, exact = result.x, result.norms, result.exact
    last = -1
    lines = [f"compared at {len(x)} common points, from x = {x[0]:.9g} to {x[-1]:.9g}",
             f"  {'':<28}  {'L2':<12}  max"]
    for key, label in (("12", "|phi(dx) - phi(dx/2)|"), ("24", "|phi(dx/2) - phi(dx/4)|")):
        lines.append(_row(label, norms[key][0][last], norms[key][1][last]))
    lines.append(f"self-convergence factor: {_ratio(norms['12'][0][last], norms['24'][0][last])}"
                 f" (L2), {_ratio(norms['12'][1][last], norms['24'][1][last])} (max)"
                 + SECOND_ORDER)
    if exact.reason:
        lines.append(f"no exact solution: {exact.reason}")
    else:
        lines.append("error against the exact solution [f(x + (beta+1) t) + f(x + (beta-1) t)]"
                     f"/2, beta = {exact.beta:.17g}, t = {exact.time:.9g}:")
        for key, label in (("e1", "dx"), ("e2", "dx/2"), ("e4", "dx/4")):
            lines.append(_row(f"|phi({label}) - exact|", norms[key][0][last],
                              norms[key][1][last]))
        e = [[norms[key][k][last] for key in ("e1", "e2", "e4")] for k in (0, 1)]
        lines.append(f"error ratios: {_ratio(e[0][0], e[0][1])} and {_ratio(e[0][1], e[0][2])}"
                     f" (L2), {_ratio(e[1][0], e[1][1])} and {_ratio(e[1][1], e[1][2])} (max)"
                     + SECOND_ORDER)
    lines += _constraint_report(result)
    return lines


def _constraint_report(result):
    """The constraint's norms of each run at the last output time, their factors there, and
    the span of the L2 factors over every output time."""
    table = result.table
    rows = len(table)
    pairs = [("l2_constraint", "L2"), ("max_abs_constraint", "max")]
    if any(name not in result.runs[0].norms for name, _ in pairs):
        return []
    c = {name: [run.norms[name][rows - 1] for run in result.runs] for name, _ in pairs}
    time = table["time"].iloc[-1]
    lines = ["constraint psi - (phi(x+dx) - phi(x-dx))/(2 dx), from norms.tsv at "
             f"t = {time:.9g}:", f"  {'':<28}  {'L2':<12}  max"]
    for k, label in enumerate(("|C(dx)|", "|C(dx/2)|", "|C(dx/4)|")):
        lines.append(_row(label, c["l2_constraint"][k], c["max_abs_constraint"][k]))
    zero = "undefined (zero constraint)"
    factors = [f"{_ratio(c[name][0], c[name][1], zero)} and {_ratio(c[name][1], c[name][2], zero)}"
               f" ({label})" for name, label in pairs]
    lines.append(f"constraint convergence factor: {factors[0]}, {factors[1]}" + SECOND_ORDER)
    l2 = table[["constraint_l2_1_2", "constraint_l2_2_4"]].to_numpy().ravel()
    l2 = l2[~(l2 != l2)]  # NaN where a factor is not defined
    if l2.size:
        lines.append(f"  over the {rows} output times: from {l2.min():.4f} to {l2.max():.4f} "
                     "(L2)")
    return lines


def configure(parser):
    """Adds the convergence command's arguments and description to parser."""
    parser.description = (
        "Runs wave1d three times on INPUT (the twelve values) with nx, nt and every_1D "
        "multiplied by 1, 2 and 4 together, and prints at the last output time the "
        "self-convergence factor |phi(dx) - phi(dx/2)| / |phi(dx/2) - phi(dx/4)| on the points "
        "all three sample (4 for this second-order scheme), the errors against the exact "
        "solution where one exists (a lapse of 1, a constant shift, the pulse inside the "
        "domain), and the factors of the constraint's norms of norms.tsv.")
    parser.epilog = ("Exits with status 1 and a message when the input cannot be used, a run "
                     "fails, or its phi is not finite. The program's other warnings are passed "
                     "on.")
    parser.add_argument("input", metavar="INPUT", help="the input file of the coarsest run")
    parser.add_argument("-w", metavar="WAVE1D", dest="program",
                        help="the program to run (default: $WAVE1D, else the checkout's "
                             "build/wave1d, else wave1d beside this command or on the PATH)")
    parser.add_argument("-k", metavar="DIR", dest="keep",
                        help="keep the three runs in DIR/dx1, DIR/dx2 and DIR/dx4 (default: a "
                             "temporary folder, removed at the end)")
    parser.add_argument("--table", metavar="FILE",
                        help="also write the factors at every output time as a "
                             "tab-separated table")
    parser.add_argument("--plot", metavar="FILE",
                        help="also draw the factors against time (a PNG image; needs "
                             "matplotlib)")
    parser.set_defaults(convergence_prog=parser.prog, beside=None)


def execute(args):
    """Runs the study of args.input and prints it; returns the exit status."""
    prog = getattr(args, "convergence_prog", "wave1d-convergence")

    def say(message):
        print(f"{prog}: {message}", file=sys.stderr)

    def on_run(scale, texts, run):
        print(f"  {'dx' if scale == 1 else f'dx/{scale}':<8} {texts['nx']:<10} "
              f"{texts['xmax']:<22} {texts['nt']:<10} {texts['every_1D']:<10} "
              f"{run.times[-1]:.9g}", flush=True)

    try:
        texts = read_input(args.input)
        program = find_program(args.program, getattr(args, "beside", None))
        print(f"convergence study of {args.input} with {program}")
        if value_of("boundtype", texts["boundtype"]) == 1:
            print(f"periodic boundary: the finer grids keep the period of nx - 2 = "
                  f"{value_of('nx', texts['nx']) - 2} intervals of the coarsest, so their xmax "
                  "differs from the input's")
        _checked(texts)
        if args.keep:
            os.makedirs(args.keep, exist_ok=True)
        print(f"  {'run':<8} {'nx':<10} {'xmax':<22} {'nt':<10} {'every_1D':<10} "
              "last output time", flush=True)
        result = study(texts, program, args.keep, on_run)
    except (InputError, ConvergenceError, FileNotFoundError) as error:
        say(str(error))
        return 1
    except OSError as error:
        say(f"cannot write the runs: {error}")
        return 1
    for message in result.warnings:
        say(f"wave1d warns: {message}")
    print("\n".join(report(result)))
    if args.table:
        result.table.to_csv(args.table, sep="\t", index=False)
    if args.plot:
        from matplotlib.figure import Figure

        figure = Figure(figsize=(10, 7), dpi=100)
        plot_convergence(result.table, figure.add_subplot())
        figure.savefig(args.plot)
    return 0


def main(argv=None, prog=None, beside=None):
    """The convergence command on its own: see commands.standalone."""
    return standalone(configure, execute, "wave1d-convergence", argv, prog, beside)


if __name__ == "__main__":
    sys.exit(main())
