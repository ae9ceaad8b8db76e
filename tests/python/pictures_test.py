"""The pictures of runs: the plot command's files (kind, size, frames) and refusals, and the
arrays that plot_profiles, plot_spacetime, plot_norms and animate draw."""

import os
import subprocess
import sys

import numpy
import pytest

matplotlib = pytest.importorskip("matplotlib")
Image = pytest.importorskip("PIL.Image")

import wave1d  # noqa: E402
from wave1d.pictures import LOG_NAME, frame_rows, plot_spacetime  # noqa: E402
from wave1d_testing import CHECKOUT, SMALL, tool  # noqa: E402

matplotlib.use("Agg")
PICTURES = ("phi-profiles.png", "phi-spacetime.png", "phi-animation.gif")
UNSTABLE = dict(xmin=-10, xmax=10, nx=40, courant=2.6, nt=400, boundtype=1, every_1D=20)


def small_run(folder, norms=True, **changes):
    return wave1d.run(folder=folder, norms=norms, **dict(SMALL, **changes))


@pytest.fixture(scope="module")
def runs(tmp_path_factory):
    top = tmp_path_factory.mktemp("runs")
    with pytest.warns(wave1d.RunWarning):
        unstable = small_run(top / "unstable", **UNSTABLE)
    return dict(pulse=small_run(top / "pulse"), slower=small_run(top / "slower", courant=0.25),
                unstable=unstable)


def picture_facts(path):
    """(format, size, frames, duration of the first frame, loop) of an image file."""
    with Image.open(path) as image:
        return (image.format, image.size, getattr(image, "n_frames", 1),
                image.info.get("duration"), image.info.get("loop"))


def lines_of(ax):
    return [line.get_ydata() for line in ax.get_lines()]


def test_plot_draws_every_picture_of_a_run_with_norms(runs):
    folder = runs["pulse"].folder
    done = tool("plot", folder)
    assert done.returncode == 0 and done.stderr == "", done.stderr
    assert done.stdout.startswith("wrote ") and done.stdout.rstrip().endswith("phi-norms.png")
    assert [picture_facts(os.path.join(folder, name))[:3] for name in PICTURES[:2]] == \
        [("PNG", (1000, 700), 1)] * 2
    assert picture_facts(os.path.join(folder, "phi-norms.png"))[:2] == ("PNG", (1000, 700))
    # Five output times, each 1.5 s of the 7.5 s, looping for ever.
    assert picture_facts(os.path.join(folder, "phi-animation.gif")) == \
        ("GIF", (800, 500), 5, 1500, 0)


def test_many_output_times_make_200_evenly_spaced_frames(tmp_path):
    run = small_run(tmp_path / "many", norms=False, nx=8, nt=250, every_1D=1)
    done = tool("plot", run.folder)
    assert done.returncode == 0
    assert "holds 251 output times; the animation shows 200 of them" in done.stderr
    assert picture_facts(tmp_path / "many" / "phi-animation.gif") == \
        ("GIF", (800, 500), 200, 40, 0)
    assert not (tmp_path / "many" / "phi-norms.png").exists()
    rows = frame_rows(251, 200)
    assert rows[:2] == [0, 1] and rows[-1] == 250 and len(set(rows)) == 200


@pytest.mark.parametrize("norms", ["an earlier run's", "not a norms file"])
def test_norms_not_of_the_run_are_named_and_not_drawn(tmp_path, norms):
    small_run(tmp_path, norms=False)
    if norms == "an earlier run's":
        earlier = small_run(tmp_path / "earlier", every_1D=20)
        os.rename(os.path.join(earlier.folder, "norms.tsv"), tmp_path / "norms.tsv")
    else:
        (tmp_path / "norms.tsv").write_text("time energy\n0 1\n")
    done = tool("plot", tmp_path)
    assert done.returncode == 0
    assert done.stderr.startswith(f"tools/plot: warning: {tmp_path}/norms.tsv")
    assert done.stderr.endswith("; no phi-norms.png drawn\n")
    assert all((tmp_path / name).exists() for name in PICTURES)
    assert not (tmp_path / "phi-norms.png").exists()


@pytest.mark.parametrize("case, expected", [
    ("missing folder", "is not a folder"),
    ("no phi.xl", "phi.xl does not exist"),
    ("no phi.xtl", "phi.xtl does not exist"),
    ("empty phi.xl", "phi.xl is empty"),
    ("nt = 0", "phi.xtl is empty: the run wrote no profile after time zero"),
    ("nx negative", "holds no sampled point"),
])
def test_plot_refuses_files_it_cannot_draw(tmp_path, case, expected):
    folder = tmp_path / "run"
    if case != "missing folder":
        small_run(folder, norms=False, **({"nt": 0} if case == "nt = 0" else
                                          {"nx": -4, "nt": 4, "every_1D": 1}
                                          if case == "nx negative" else {}))
    if case.startswith("no "):
        os.unlink(folder / case[3:])
    if case == "empty phi.xl":
        (folder / "phi.xl").write_text("")
    done = tool("plot", folder)
    assert done.returncode == 1 and done.stdout == ""
    assert len(done.stderr.splitlines()) == 1 and expected in done.stderr, done.stderr
    assert not any((folder / name).exists() for name in PICTURES)


def test_profiles_are_the_run_s_rows_and_runs_are_told_apart(runs):
    pulse, slower = runs["pulse"], runs["slower"]
    ax = wave1d.plot_profiles(pulse)
    assert numpy.array_equal(lines_of(ax), pulse.phi)
    assert ax.get_ylabel() == "phi" and "run in pulse" in ax.texts[0].get_text()
    ax = wave1d.plot_profiles([pulse, slower], times=[0, 100])
    assert [line.get_label() for line in ax.get_lines()] == [
        "courant=0.5, t = 0", "courant=0.5, t = 5", "courant=0.25, t = 0",
        "courant=0.25, t = 2.5"]
    assert numpy.array_equal(ax.get_lines()[3].get_ydata(), slower.phi[-1])


def test_a_run_that_blew_up_is_drawn_on_the_signed_log_scale(runs):
    run = runs["unstable"]
    largest = numpy.max(numpy.abs(run.phi[numpy.isfinite(run.phi)]))
    assert largest > 1e100  # written with three-digit exponents
    ax = wave1d.plot_profiles(run)
    drawn = numpy.array(lines_of(ax))
    assert ax.get_ylabel() == LOG_NAME
    assert numpy.nanmax(numpy.abs(drawn)) == pytest.approx(numpy.log10(1 + largest))
    assert "signed logarithmic scale" in ax.texts[0].get_text()
    image = plot_spacetime(run).images[0]
    assert image.get_array().shape == run.phi.shape
    assert image.get_clim() == pytest.approx((-numpy.log10(1 + largest),
                                              numpy.log10(1 + largest)))


def test_norms_are_the_columns_of_norms_tsv_on_the_scale_their_span_needs(runs):
    pulse, unstable = runs["pulse"], runs["unstable"]
    ax = wave1d.plot_norms(pulse)
    names = [name for name in pulse.norms if name != "time"]
    assert [line.get_label() for line in ax.get_lines()] == names
    assert numpy.array_equal(ax.get_lines()[0].get_xdata(), pulse.norms["time"])
    assert numpy.allclose(lines_of(ax), [pulse.norms[name] for name in names], equal_nan=True)
    # The blown-up run spans hundreds of decades and ends in inf and nan, left out.
    ax = wave1d.plot_norms(unstable, names=["energy"])
    assert ax.get_yscale() == "log"
    energy = ax.get_lines()[0].get_ydata()
    assert numpy.isnan(energy[~numpy.isfinite(unstable.norms["energy"])]).all()
    assert "values not finite from time" in ax.texts[0].get_text()
    with pytest.raises(ValueError, match="norms=True"):
        wave1d.plot_norms(small_run(os.path.join(pulse.folder, "bare"), norms=False))


def test_animation_plays_inline_and_overlays_runs(runs):
    pulse, slower = runs["pulse"], runs["slower"]
    animation = wave1d.animate([pulse, slower])
    assert "<img" in animation.to_jshtml() or "data:image" in animation.to_jshtml()
    lines = animation._fig.axes[0].get_lines()
    assert [line.get_label() for line in lines] == ["courant=0.5", "courant=0.25"]
    # The last frame: each run at the output time nearest the first run's last.
    animation._func(len(animation.rows) - 1)
    assert numpy.array_equal(lines[0].get_ydata(), pulse.phi[-1])
    assert numpy.array_equal(lines[1].get_ydata(), slower.phi[-1])


def test_a_folder_name_with_quotes_dollars_and_markup_shows_as_it_is(tmp_path):
    name = "it's a \"run\"_1^{2}; $x$ 50%"
    run = small_run(tmp_path / name, norms=False)
    assert tool("plot", run.folder).returncode == 0
    ax = wave1d.plot_profiles(run)
    figure = ax.figure
    figure.canvas.draw()
    assert ax.texts[0].get_text().replace("\\$", "$") == f"run in {name}"


def test_python_m_wave1d_holds_the_four_commands(tmp_path):
    def wave1d_command(*arguments):
        return subprocess.run([sys.executable, "-m", "wave1d", *arguments], cwd=tmp_path,
                              capture_output=True, text=True,
                              env=dict(os.environ, PYTHONPATH=os.path.join(CHECKOUT, "python")))

    listed = wave1d_command("--help").stdout
    assert all(f"    {command}" in listed for command in ("plot", "view", "convergence", "scan"))
    done = wave1d_command("plot", "nowhere")
    assert (done.returncode, done.stderr) == (1, "python -m wave1d plot: nowhere is not a folder\n")
