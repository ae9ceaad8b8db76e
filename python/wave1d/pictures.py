"""Pictures of runs: phi against x, phi over x and time, an animation, the norms against time;
and the plot command, which draws them for the folder of a run.

    import wave1d
    pulse = wave1d.run(base="examples/outgoing_pulse.in", norms=True)
    wave1d.plot_profiles(pulse)          # a matplotlib Axes
    wave1d.plot_norms(pulse, names=["energy", "l2_constraint"])
    wave1d.animate(pulse).to_jshtml()    # plays inline in Jupyter; .save("pulse.gif") too

runs may be one Run or several, which are overlaid and labelled by the input values that
differ between them. Needs matplotlib; the GIF needs pillow.
"""

import os
import shutil
import sys
import tempfile
import warnings

from .commands import standalone
from .inputs import NAMES

__all__ = ["plot_profiles", "plot_spacetime", "plot_norms", "animate", "labels",
           "configure", "execute", "main"]

# Images of 1000 x 700 pixels, the animation 800 x 500.
DPI = 100
IMAGE_INCHES = (10, 7)
ANIMATION_INCHES = (8, 5)
# The animation shows at most this many output times and plays for about 7.5 s.
MAX_FRAMES = 200
PLAY_HUNDREDTHS = 750
# A run that blew up spans hundreds of orders of magnitude, and on a linear axis only its last
# finite profile would show: beyond this, phi is drawn as sign(phi) log10(1 + |phi|), which
# keeps the sign, is close to phi near zero and gives the order of magnitude of large values.
LOG_FROM = 1e6
LOG_NAME = "sign(phi) log10(1 + |phi|)"
# Norms whose positive values span more than this ratio get a logarithmic axis.
NORMS_LOG_RATIO = 100
# Up to this many rows of norms, each is marked by a point.
MARKED_ROWS = 100
# The titles show at most this many characters of a folder's name.
LONGEST_NAME = 40
# Dark early, bright late; blue negative, white zero, red positive.
TIME_COLOURS = ("#440154", "#3b528b", "#21918c", "#5ec962", "#fde725")
SIGN_COLOURS = ("#2166ac", "#67a9cf", "#f7f7f7", "#ef8a62", "#b2182b")
GRID_COLOUR = "#d8d8d8"
LINE_STYLES = ("-", "--", ":", "-.")


def _as_list(runs):
    return list(runs) if isinstance(runs, (list, tuple)) else [runs]


def _new_axes(inches=IMAGE_INCHES):
    """Axes on a new pyplot figure, so that Jupyter shows it inline."""
    from matplotlib import pyplot

    return pyplot.subplots(figsize=inches)[1]


def _escaped(text):
    """Text that matplotlib shows as it is: "$" would start mathematics."""
    return text.replace("$", r"\$")


def folder_name(folder):
    """The last part of a folder's path as titles show it: "." and ".." resolved, control
    characters as "?", a long name shortened around an ellipsis."""
    name = os.path.basename(os.path.abspath(folder)) or "/"
    name = "".join("?" if ord(c) < 32 or ord(c) == 127 else c for c in name)
    if len(name) > LONGEST_NAME:
        keep = LONGEST_NAME // 2 - 1
        name = name[:keep] + "…" + name[-keep:]
    return name


def _value_text(value):
    return f"{value:g}" if isinstance(value, float) else str(value)


def labels(runs):
    """The label of each run: the input values that differ between the runs ("nx=80,
    courant=0.5"), or the name of its folder when none differ."""
    runs = _as_list(runs)
    missing = object()
    differ = [name for name in NAMES
              if len({repr(run.inputs.get(name, missing)) for run in runs}) > 1]
    if len(runs) == 1 or not differ:
        return [folder_name(run.folder) for run in runs]
    return [", ".join(f"{name}={_value_text(run.inputs.get(name, '?'))}" for name in differ)
            for run in runs]


def _largest(runs):
    """The largest finite |phi| of the runs, 0 when there is none."""
    import numpy

    largest = 0.0
    for run in runs:
        values = numpy.abs(run.phi[numpy.isfinite(run.phi)])
        if values.size:
            largest = max(largest, float(values.max()))
    return largest


def _shown(phi, log_scale):
    """phi as drawn: NaN where it is not finite (a gap), the signed log beyond LOG_FROM."""
    import numpy

    phi = numpy.where(numpy.isfinite(phi), phi, numpy.nan)
    return numpy.sign(phi) * numpy.log10(1 + numpy.abs(phi)) if log_scale else phi


def _phi_scale(runs):
    """The name of the drawn quantity, whether it is the signed log, and the notes under the
    titles: the run's folder for a single run, and the scale when it is logarithmic."""
    largest = _largest(runs)
    log_scale = largest > LOG_FROM
    notes = [f"run in {folder_name(runs[0].folder)}"] if len(runs) == 1 else []
    if log_scale:
        # The files hold every fourth grid point, so this can be below the console's maximum.
        notes.append(f"signed logarithmic scale; sampled maximum of |phi|: {largest:.3g}")
    return (LOG_NAME if log_scale else "phi"), log_scale, notes


def _title(ax, title, notes):
    """The title, and under it, smaller, a line per note; returns the title's Text."""
    text = ax.set_title(_escaped(title), fontsize=14, pad=8 + 13 * len(notes))
    if notes:
        ax.annotate(_escaped("\n".join(notes)), xy=(0.5, 1), xycoords="axes fraction",
                    xytext=(0, 5), textcoords="offset points", ha="center", va="bottom",
                    fontsize=10)
    return text


def _rows(run, times):
    """The rows of run.phi nearest to the given times, each once, or every row."""
    import numpy

    if times is None:
        return list(range(len(run.times)))
    rows = [int(numpy.argmin(numpy.abs(run.times - time))) for time in numpy.atleast_1d(times)]
    return list(dict.fromkeys(rows))


def _x_range(ax, runs):
    low = min(float(run.x.min()) for run in runs if run.x.size)
    high = max(float(run.x.max()) for run in runs if run.x.size)
    if high > low:
        ax.set_xlim(low, high)


def plot_profiles(runs, times=None, ax=None):
    """Axes with phi against x: for one run a curve per output time (those nearest to times
    when given), coloured by time with a colour bar; for several, the last output time of each
    (or those nearest to times), a colour per run and a line style per time."""
    from matplotlib.cm import ScalarMappable
    from matplotlib.colors import LinearSegmentedColormap, Normalize

    runs = _as_list(runs)
    ax = ax if ax is not None else _new_axes()
    name, log_scale, notes = _phi_scale(runs)
    if len(runs) == 1:
        run = runs[0]
        rows = _rows(run, times)
        colours = LinearSegmentedColormap.from_list("time", TIME_COLOURS)
        shown_times = run.times[rows]
        norm = Normalize(float(shown_times.min()), float(shown_times.max()))
        for row in rows:
            ax.plot(run.x, _shown(run.phi[row], log_scale), lw=1,
                    color=colours(norm(run.times[row])))
        ax.figure.colorbar(ScalarMappable(norm, colours), ax=ax, label="time")
        title = f"{name} against x at the {len(rows)} output times"
        if len(rows) == 1:
            title = f"{name} against x at time {run.times[rows[0]]:g}"
    else:
        for index, (run, label) in enumerate(zip(runs, labels(runs))):
            rows = _rows(run, times) if times is not None else [len(run.times) - 1]
            for number, row in enumerate(rows):
                at = f", t = {run.times[row]:g}" if times is not None else ""
                ax.plot(run.x, _shown(run.phi[row], log_scale), color=f"C{index % 10}",
                        ls=LINE_STYLES[number % len(LINE_STYLES)], label=_escaped(label + at))
        ax.legend(fontsize="small")
        title = f"{name} against x" + (" at the last output time" if times is None else "")
    _title(ax, title, notes)
    ax.set(xlabel="x", ylabel=name)
    ax.grid(color=GRID_COLOUR)
    _x_range(ax, runs)
    return ax


def plot_spacetime(run, ax=None):
    """Axes with phi of one run over x (across) and time (upwards) as a heat map, colours
    interpolated between output times, on a colour range centred on zero."""
    import numpy
    from matplotlib.colors import LinearSegmentedColormap

    ax = ax if ax is not None else _new_axes()
    name, log_scale, notes = _phi_scale([run])
    largest = _largest([run])
    top = float(_shown(numpy.array(largest), log_scale)) if largest > 0 else 1.0
    first, last = float(run.times[0]), float(run.times[-1])
    image = ax.imshow(numpy.ma.masked_invalid(_shown(run.phi, log_scale)), origin="lower",
                      aspect="auto", interpolation="bilinear", vmin=-top, vmax=top,
                      cmap=LinearSegmentedColormap.from_list("sign", SIGN_COLOURS),
                      extent=(float(run.x[0]), float(run.x[-1]), first,
                              last if last > first else first + 1))
    ax.figure.colorbar(image, ax=ax, label=name)
    _title(ax, f"{name} over x and time", notes)
    ax.set(xlabel="x", ylabel="time")
    ax.tick_params(direction="out")
    return ax


def _norm_names(runs, names):
    for run in runs:
        if not run.norms:
            raise ValueError(f"{run.folder} holds no norms: run it with norms=True "
                             "(wave1d --norms)")
    return list(names) if names is not None else [n for n in runs[0].norms if n != "time"]


def norms_scale(runs, names=None):
    """Whether the norms of the runs are drawn on a logarithmic axis (their positive finite
    values span more than NORMS_LOG_RATIO), and a note of what the picture leaves out (empty
    when nothing)."""
    import numpy

    runs = _as_list(runs)
    names = _norm_names(runs, names)
    positive, zeros, not_finite = [], False, []
    for run in runs:
        times = run.norms["time"]
        for name in names:
            values = run.norms[name]
            finite = numpy.isfinite(values)
            positive.extend(values[finite & (values > 0)])
            zeros = zeros or bool(numpy.any(finite & (values <= 0)))
            not_finite.extend(times[~finite])
    log_scale = bool(positive) and max(positive) > NORMS_LOG_RATIO * min(positive)
    notes = ["zeros left out"] if log_scale and zeros else []
    if not_finite:
        notes.append(f"values not finite from time {min(not_finite):.9g} left out")
    return log_scale, "; ".join(notes)


def plot_norms(runs, names=None, ax=None):
    """Axes with the norms of norms.tsv against time, all its columns or those named: for one
    run a colour per norm, the energy thick and black, the constraint's dashed; for several, a
    colour per run and a line style per norm. Values that are not finite are left out, and
    zeros too on the logarithmic axis that norms_scale chooses."""
    import matplotlib
    import numpy

    runs = _as_list(runs)
    names = _norm_names(runs, names)
    if ax is None:
        ax = _new_axes()
        ax.figure.subplots_adjust(right=0.78)  # room for the legend
    log_scale, note = norms_scale(runs, names)
    palette = [matplotlib.colormaps["viridis"](0.85 * k / max(len(names) - 1, 1))
               for k in range(len(names))]
    run_labels = labels(runs)
    for index, run in enumerate(runs):
        times = run.norms["time"]
        marker = "o" if len(times) <= MARKED_ROWS else None
        for number, name in enumerate(names):
            values = numpy.array(run.norms[name], dtype=float)
            values[~numpy.isfinite(values) | ((values <= 0) if log_scale else False)] = numpy.nan
            if len(runs) == 1:
                style = dict(color=palette[number],
                             lw=1.5, ls="--" if "constraint" in name else "-", label=name)
                if name == "energy":
                    style.update(color="black", lw=2.5)
            else:
                style = dict(color=f"C{index % 10}", lw=1.5,
                             ls=LINE_STYLES[number % len(LINE_STYLES)],
                             label=_escaped(f"{name}, {run_labels[index]}"))
            ax.plot(times, values, marker=marker, ms=4, **style)
    if log_scale:
        ax.set_yscale("log")
    span = numpy.concatenate([run.norms["time"] for run in runs])
    span = span[numpy.isfinite(span)]
    if span.size and span.max() > span.min():
        ax.set_xlim(span.min(), span.max())
    notes = [f"run in {folder_name(runs[0].folder)}"] if len(runs) == 1 else []
    if log_scale or note:
        notes.append(("logarithmic" if log_scale else "linear") + " scale"
                     + (f"; {note}" if note else ""))
    _title(ax, "norms against time", notes)
    ax.set(xlabel="time", ylabel="norm")
    ax.grid(color=GRID_COLOUR)
    ax.legend(loc="upper left", bbox_to_anchor=(1.02, 1), fontsize="small")
    return ax


def frame_rows(outputs, frames):
    """The output times that frames frames show, counted from 0: all when there are no more
    than frames, else evenly spaced, the first and the last among them."""
    if frames >= outputs:
        return list(range(outputs))
    return [int(k * (outputs - 1) / (frames - 1) + 0.5) if frames > 1 else 0
            for k in range(frames)]


def frame_hundredths(frames):
    """How long each of frames frames lasts, in the hundredths of a second that GIF counts."""
    return max(1, (PLAY_HUNDREDTHS + frames // 2) // frames)


def animate(runs, max_frames=MAX_FRAMES):
    """A matplotlib Animation of phi against x, a frame per output time (at most max_frames,
    evenly spaced), on the x and phi ranges of the whole run; several runs are overlaid, each
    at the output time nearest to that of the first. It plays in about 7.5 s: to_jshtml() for
    Jupyter, save("NAME.gif") with pillow."""
    import numpy
    from matplotlib.animation import FuncAnimation
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    runs = _as_list(runs)
    first = runs[0]
    rows = frame_rows(len(first.times), max_frames)
    name, log_scale, notes = _phi_scale(runs)
    # Not a pyplot figure: Jupyter would show its first frame beside the animation.
    figure = Figure(figsize=ANIMATION_INCHES, dpi=DPI)
    FigureCanvasAgg(figure)
    ax = figure.add_subplot()
    several = len(runs) > 1
    lines = [ax.plot([], [], lw=2, color="#21918c" if not several else f"C{k % 10}",
                     label=_escaped(label))[0]
             for k, label in enumerate(labels(runs))]
    if several:
        ax.legend(fontsize="small")
    shown = [_shown(run.phi, log_scale) for run in runs]
    finite = numpy.concatenate([values[numpy.isfinite(values)] for values in shown])
    low, high = (float(finite.min()), float(finite.max())) if finite.size else (-1.0, 1.0)
    margin = 0.05 * (high - low) if high > low else 1.0
    ax.set_ylim(low - margin, high + margin)
    _x_range(ax, runs)
    ax.set(xlabel="x", ylabel=name)
    ax.grid(color=GRID_COLOUR)
    title = _title(ax, "", notes)

    def draw(frame):
        row = rows[frame]
        time = first.times[row]
        for line, run, values in zip(lines, runs, shown):
            nearest = int(numpy.argmin(numpy.abs(run.times - time))) if several else row
            line.set_data(run.x, values[nearest])
        title.set_text(_escaped(f"{name} against x at time {time:g} "
                                f"(output {row + 1} of {len(first.times)})"))
        return lines + [title]

    animation = FuncAnimation(figure, draw, frames=len(rows),
                              interval=10 * frame_hundredths(len(rows)), blit=False)
    # What save_gif needs: the output times shown, the figure, what changes, how to draw.
    animation.rows, animation.figure, animation.artists = rows, figure, lines + [title]
    animation.draw_frame = draw
    return animation


def save_gif(animation, path, progress=False):
    """Writes an animation of animate() as a looping GIF whose frames last what it chose;
    progress shows a bar on standard error. Needs pillow."""
    from PIL import Image

    figure, artists = animation.figure, animation.artists
    canvas = figure.canvas
    hundredths = frame_hundredths(len(animation.rows))
    # Only the curves and the title change from frame to frame: the rest is drawn once, and
    # each frame draws them on a copy of it. Matplotlib's own saving draws every frame twice
    # over.
    for artist in artists:
        artist.set_animated(True)
    frames = []
    try:
        canvas.draw()
        background = canvas.copy_from_bbox(figure.bbox)
        shown = range(len(animation.rows))
        if progress:
            try:
                from tqdm import tqdm
            except ImportError:  # the bar is a nicety
                pass
            else:
                shown = tqdm(shown, unit="frame", desc="animation", leave=False)
        for frame in shown:
            animation.draw_frame(frame)
            canvas.restore_region(background)
            for artist in artists:
                figure.draw_artist(artist)
            image = Image.frombuffer("RGBA", canvas.get_width_height(),
                                     bytes(canvas.buffer_rgba()), "raw", "RGBA", 0, 1)
            # Each frame takes its own palette at once, a quarter of the bytes of RGBA.
            frames.append(image.convert("RGB").quantize(method=Image.Quantize.FASTOCTREE))
    finally:
        for artist in artists:
            artist.set_animated(False)
    frames[0].save(path, format="GIF", save_all=True, append_images=frames[1:],
                   duration=10 * hundredths, loop=0)


# The command.

FILES = ("phi-profiles.png", "phi-spacetime.png", "phi-animation.gif")
NORMS_PICTURE = "phi-norms.png"


class Refusal(Exception):
    """Why the pictures of a folder cannot be drawn."""


def configure(parser):
    """Adds the plot command's arguments and description to parser."""
    parser.description = (
        "Draws the profiles that a wave1d run left in DIR: phi-profiles.png (phi against x, a "
        "curve per output time, coloured by time), phi-spacetime.png (phi over x and time), "
        "phi-animation.gif (a frame per output time, at most 200, playing in about 7.5 s) and, "
        "when DIR holds norms.tsv (wave1d --norms), phi-norms.png (the norms against time). "
        "Images of 1000 x 700 pixels, the animation 800 x 500. Beyond |phi| = 1e6 (a run that "
        "blew up) they show sign(phi) log10(1 + |phi|).")
    parser.epilog = ("Exits with status 1 and a message when a file is missing or empty. A "
                     "norms.tsv of another run is named in a warning and not drawn.")
    parser.add_argument("folder", nargs="?", default=".", metavar="DIR",
                        help="the run's folder (default: the current folder)")
    parser.set_defaults(plot_prog=parser.prog)


def _check_files(folder):
    if not os.path.isdir(folder):
        raise Refusal(f"{folder} is not a folder")
    for name in ("phi.xl", "phi.xtl"):
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            raise Refusal(f"{path} does not exist: run wave1d in {folder} first")
        if not os.path.isfile(path):
            raise Refusal(f"{path} is not a regular file")
        if not os.access(path, os.R_OK):
            raise Refusal(f"{path} cannot be read")
    if os.path.getsize(os.path.join(folder, "phi.xl")) == 0:
        raise Refusal(f"{os.path.join(folder, 'phi.xl')} is empty: the run stopped before its "
                      "first profile")
    if os.path.getsize(os.path.join(folder, "phi.xtl")) == 0:
        raise Refusal(f"{os.path.join(folder, 'phi.xtl')} is empty: the run wrote no profile "
                      "after time zero (nt below 1, every_1D of 0, or every_1D larger than nt)")


def _profiles_only(folder):
    """A Run of the profiles of folder alone, for a folder whose norms.tsv cannot be read."""
    import numpy

    from .profiles import xl_table
    from .runs import Run

    times, x, phi = xl_table(os.path.join(folder, "phi.xl"))
    return Run(folder, times, x[0] if len(x) else numpy.empty(0), phi, {}, {})


def _read(folder):
    """The run of folder, and why its norms are not drawn (None when they are, or there are
    none): read_run's warning that they are not of its profiles, or why they cannot be
    read."""
    from .runs import RunWarning, read_run

    norms_path = os.path.join(folder, "norms.tsv")
    problem = None
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", RunWarning)
        try:
            run = read_run(folder)
        except ValueError as error:
            if not str(error).startswith(norms_path):
                raise Refusal(f"cannot read the run in {folder}: {error}") from None
            # A broken norms.tsv costs its picture only.
            problem = str(error)
            try:
                run = _profiles_only(folder)
            except ValueError as error:
                raise Refusal(f"cannot read the run in {folder}: {error}") from None
    if run.x.size == 0:
        raise Refusal(f"{os.path.join(folder, 'phi.xl')} holds no sampled point "
                      "(was nx negative?)")
    # read_run leaves out, with a RunWarning, a norms.tsv whose times are not of phi.xl.
    if not run.norms and os.path.exists(norms_path) and not problem:
        problem = "; ".join(str(w.message) for w in caught
                            if issubclass(w.category, RunWarning)) or None
    return run, problem


def draw(folder, prog="wave1d-plot", progress=False):
    """Draws the pictures of the run in folder next to its files; returns their paths.
    Raises Refusal when the run's files cannot be drawn."""
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise Refusal("matplotlib is not installed (on Debian: apt-get install "
                      "python3-matplotlib)") from None
    _check_files(folder)
    run, problem = _read(folder)
    if problem:
        print(f"{prog}: warning: {problem}; no {NORMS_PICTURE} drawn", file=sys.stderr)
    names = list(FILES) + ([NORMS_PICTURE] if run.norms and not problem else [])
    animation = animate(run)
    if len(animation.rows) < len(run.times):
        print(f"{prog}: {os.path.join(folder, 'phi.xl')} holds {len(run.times)} output times; "
              f"the animation shows {len(animation.rows)} of them, evenly spaced, the first "
              "and the last included", file=sys.stderr)
    # Drawn apart and moved in together, so that a failure leaves no half set behind.
    with tempfile.TemporaryDirectory(prefix="wave1d-plot-") as work:
        for name, plot in (("phi-profiles.png", plot_profiles),
                           ("phi-spacetime.png", plot_spacetime),
                           (NORMS_PICTURE, plot_norms)):
            if name in names:
                figure = Figure(figsize=IMAGE_INCHES, dpi=DPI)
                if plot is plot_norms:
                    figure.subplots_adjust(right=0.78)  # room for the legend
                plot(run, ax=figure.add_subplot())
                figure.savefig(os.path.join(work, name), dpi=DPI)
        try:
            save_gif(animation, os.path.join(work, "phi-animation.gif"), progress)
        except ImportError as error:
            raise Refusal(f"cannot write the animation: {error} (on Debian: apt-get install "
                          "python3-pil)") from None
        for name in names:
            shutil.move(os.path.join(work, name), os.path.join(folder, name))
    return [os.path.join(folder, name) for name in names]


def execute(args):
    """Draws the pictures of args.folder; returns the exit status."""
    prog = getattr(args, "plot_prog", "wave1d-plot")
    try:
        paths = draw(args.folder, prog, progress=sys.stderr.isatty())
    except Refusal as refusal:
        print(f"{prog}: {refusal}", file=sys.stderr)
        return 1
    print("wrote " + ", ".join(paths[:-1]) + " and " + paths[-1])
    return 0


def main(argv=None, prog=None):
    """The plot command on its own: see commands.standalone."""
    return standalone(configure, execute, "wave1d-plot", argv, prog)


if __name__ == "__main__":
    sys.exit(main())
