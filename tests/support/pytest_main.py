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
    def __init__(self):
        self.passed, self.skipped = 0, []

    def pytest_runtest_logreport(self, report):
        if report.skipped:
            self.skipped.append(report.longrepr[-1] if isinstance(report.longrepr, tuple)
                                else str(report.longrepr))
        elif report.when == "call" and report.passed:
            self.passed += 1


outcomes = Outcomes()
status = pytest.main(["-v", "-p", "no:cacheprovider", *sys.argv[1:]], plugins=[outcomes])
if status == 0 and outcomes.skipped and not outcomes.passed:
    print("skipped: " + "; ".join(sorted(set(outcomes.skipped))))
    sys.exit(77)
sys.exit(status)
