"""Builds the package (pip install ./python) with its build folders in a temporary folder of
their own, so that the checkout is left as it was and no module of an earlier build, kept in
a build folder, is installed again. Everything else is in pyproject.toml."""

import atexit
import shutil
import tempfile

from setuptools import setup
from setuptools.command.build import build
from setuptools.command.egg_info import egg_info

SCRATCH = tempfile.mkdtemp(prefix="wave1d-build-")
atexit.register(shutil.rmtree, SCRATCH, ignore_errors=True)


class BuildOutside(build):
    def initialize_options(self):
        super().initialize_options()
        self.build_base = SCRATCH + "/build"


class EggInfoOutside(egg_info):
    def initialize_options(self):
        super().initialize_options()
        self.egg_base = SCRATCH


setup(cmdclass={"build": BuildOutside, "egg_info": EggInfoOutside})
