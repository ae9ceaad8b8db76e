"""examples/tour.ipynb runs from top to bottom, as a user opens it from a checkout that has built
the program, and shows its pictures; the committed notebook carries no outputs."""

import json
import os
import pathlib
import shutil

import pytest

from wave1d_testing import CHECKOUT, PROGRAM

NOTEBOOK = os.path.join(CHECKOUT, "examples", "tour.ipynb")


def test_the_committed_notebook_has_no_outputs():
    cells = json.loads(pathlib.Path(NOTEBOOK).read_text(encoding="utf-8"))["cells"]
    stale = [n for n, cell in enumerate(cells) if cell["cell_type"] == "code"
             and (cell["outputs"] or cell["execution_count"] is not None)]
    assert not stale, f"cells {stale} keep outputs: clear them before committing"


def test_the_notebook_runs_in_a_checkout_and_shows_its_pictures(tmp_path, monkeypatch):
    for module in ("nbclient", "ipykernel"):
        pytest.importorskip(module, reason=f"{module} is not installed (Debian: python3-{module})")
    if shutil.which("parallel") is None:
        pytest.skip("GNU parallel is not installed (Debian: parallel); the notebook scans")
    import nbclient
    import nbformat

    # A checkout of its own: the examples, the package, and the program where a build leaves
    # it, found without WAVE1D as a user's notebook finds it.
    shutil.copytree(os.path.join(CHECKOUT, "examples"), tmp_path / "examples")
    shutil.copytree(os.path.join(CHECKOUT, "python", "wave1d"), tmp_path / "python" / "wave1d",
                    ignore=shutil.ignore_patterns("__pycache__"))
    (tmp_path / "build").mkdir()
    (tmp_path / "build" / "wave1d").symlink_to(PROGRAM)
    monkeypatch.delenv("WAVE1D")
    monkeypatch.delenv("MPLBACKEND", raising=False)  # the kernel's own choice: pictures inline
    for name, folder in (("JUPYTER_RUNTIME_DIR", "jupyter"), ("IPYTHONDIR", "ipython")):
        monkeypatch.setenv(name, str(tmp_path / folder))  # nothing left in the home folder
    notebook = nbformat.read(tmp_path / "examples" / "tour.ipynb", as_version=4)
    nbclient.NotebookClient(notebook, kernel_name="python3", timeout=300,
                            resources={"metadata": {"path": str(tmp_path / "examples")}}).execute()

    shown = [output.get("data", {}) for cell in notebook.cells if cell.cell_type == "code"
             for output in cell.outputs]
    assert sum("image/png" in data for data in shown) >= 3, "the plots show as pictures"
    assert any("<script" in data.get("text/html", "") for data in shown), "the animation plays"
    assert (tmp_path / "out" / "tour").is_dir(), "the runs go to out/tour of the checkout"
