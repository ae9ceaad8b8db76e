"""wave1d from Python: run the program, read the files of a run, and scan many runs.

    import wave1d
    pulse = wave1d.run(base="examples/outgoing_pulse.in", courant=0.25, norms=True)
    pulse.times, pulse.x, pulse.phi[-1], pulse.norms["energy"], pulse.inputs["nx"]

Reading a run needs numpy, tables (convergence, read_scan) pandas, pictures matplotlib.
python3 -m wave1d COMMAND runs plot, view, convergence or scan (installed: wave1d-plot, ...).
"""

from .convergence_study import convergence
from .inputs import NAMES, InputError
from .pictures import animate, plot_norms, plot_profiles
from .profiles import parse_number, read_xl, read_xtl
from .runs import Run, RunFailed, RunWarning, find_program, read_norms, read_run, run
from .scans import read_scan

__version__ = "1.0.0"
__all__ = ["NAMES", "InputError", "Run", "RunFailed", "RunWarning", "find_program",
           "animate", "convergence", "plot_norms", "plot_profiles",
           "parse_number", "read_norms", "read_run", "read_scan", "read_xl", "read_xtl",
           "run"]
