"""Runs pytest on the test files given, for CTest: exits with status 77, which CTest reports as
skipped, with the reason, when pytest or numpy cannot be imported or when every test skipped.

    python3 pytest_main.py TEST_FILE...       (WAVE1D in the environment: the built program)
"""

import os
import sys

sys.dont_write_bytecode = True  # nothing written into the checkout
sys.path[:0] = [os.path.dirname(os.path.abspath(__file__)),
                os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python")]
try:
    import numpy  # noqa: F401
    import pytest
except ImportError as error:
    print(f"skipped: {error} (Debian: python3-pytest, python3-numpy) in {sys.executable}")
    sys.exit(77)


class Outcomes:
    def pytest_terminal_summary(self, terminalreporter):
        self.stats = terminalreporter.stats


outcomes = Outcomes()
status = pytest.main(["-v", "-p", "no:cacheprovider", *sys.argv[1:]], plugins=[outcomes])
skipped = outcomes.stats.get("skipped", [])
# A module skipped whole leaves no test collected: pytest's status 5.
if status in (0, 5) and skipped and not outcomes.stats.get("passed"):
    print("skipped: " + "; ".join(sorted({str(report.longrepr[-1]) for report in skipped})))
    sys.exit(77)
sys.exit(status)
