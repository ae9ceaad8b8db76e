"""tools/wave1d_profiles.py on the files of a run that blew up, on the number forms that only
hand-made files reach, and with numpy present. Run as: python3 profiles_reader_test.py WAVE1D
"""

import importlib
import math
import os
import subprocess
import sys
import tempfile
import types
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
sys.path.insert(0, TOOLS)
import wave1d_profiles  # noqa: E402

WAVE1D = None


def written(value, digits):
    """value as the files write it with digits significant digits, formatted independently of
    the reader: an exponent of three digits loses its letter E."""
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "Infinity" if value > 0 else "-Infinity"
    mantissa, exponent = f"{value:.{digits - 1}E}".split("E")
    exponent = int(exponent)
    return mantissa + (f"E{exponent:+03d}" if abs(exponent) < 100 else f"{exponent:+04d}")


class UnstableRun(unittest.TestCase):
    """examples/unstable_courant.in: values up to 8.2E+295 written with three-digit exponents,
    then NaN written as zero."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        example = os.path.join(TOOLS, "..", "examples", "unstable_courant.in")
        with open(example) as values:
            subprocess.run([WAVE1D], stdin=values, stdout=subprocess.DEVNULL, check=True,
                           cwd=cls.folder.name)
        cls.xl_path = os.path.join(cls.folder.name, "phi.xl")
        cls.xtl_path = os.path.join(cls.folder.name, "phi.xtl")
        cls.xl = wave1d_profiles.read_xl(cls.xl_path)
        cls.xtl = wave1d_profiles.read_xtl(cls.xtl_path)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_every_value_of_phi_xl_is_the_one_written(self):
        with open(self.xl_path) as file:
            text = file.read()
        lines = [line.split() for line in text.splitlines() if line.strip()]
        read = []
        for time, x, phi in self.xl:
            read.append(["#Time", "=", written(time, 7)])
            read += [[written(a, 9), written(b, 9)] for a, b in zip(x, phi)]
        self.assertEqual(read, lines)
        self.assertIn(" 6.75207537+295\n", text)

    def test_phi_xtl_holds_the_same_profiles_after_time_zero(self):
        self.assertEqual(len(self.xl), 21)
        self.assertEqual(len(self.xtl), 20)
        for (time, x, phi), (xl_time, xl_x, xl_phi) in zip(self.xtl, self.xl[1:]):
            self.assertEqual(written(time, 7), written(xl_time, 7))
            self.assertEqual(list(x), list(xl_x))
            self.assertEqual(list(phi), list(xl_phi))
        self.assertEqual(self.xtl[-1][0], 440.0)
        self.assertEqual(max(abs(v) for v in self.xtl[-3][2]), 6.75207537e295)
        self.assertEqual(set(self.xtl[-1][2]), {0.0})


class HandMadeFiles(unittest.TestCase):
    def write(self, text):
        file = tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False)
        self.addCleanup(os.unlink, file.name)
        with file:
            file.write(text)
        return file.name

    def test_infinities_nan_and_small_three_digit_exponents(self):
        path = self.write("#Time =   1.000000-300\n"
                          "             NaN        Infinity\n"
                          "  2.00000000E+00       -Infinity\n"
                          " -1.00000000-300  1.00000000E+00\n\n\n")
        [(time, x, phi)] = wave1d_profiles.read_xl(path)
        self.assertEqual(time, 1e-300)
        self.assertTrue(math.isnan(x[0]))
        self.assertEqual(list(x[1:]), [2.0, -1e-300])
        self.assertEqual(list(phi), [math.inf, -math.inf, 1.0])

    def test_other_text_is_refused_with_its_line(self):
        path = self.write("#Time =   0.000000E+00\n  1.0E+00  1.0E+0x\n")
        with self.assertRaisesRegex(ValueError, r"line 2: \"1.0E\+0x\" is not a number"):
            wave1d_profiles.read_xl(path)

    def test_numpy_arrays_when_numpy_can_be_imported(self):
        stand_in = types.ModuleType("numpy")
        stand_in.array = lambda values, dtype: ("array", dtype, list(values))
        real = sys.modules.get("numpy")
        sys.modules["numpy"] = stand_in
        try:
            reader = importlib.reload(wave1d_profiles)
            path = self.write("#Time =   0.000000E+00\n  1.0E+00  2.0E+00\n\n\n")
            self.assertEqual(reader.read_xl(path), [(0.0, ("array", float, [1.0]),
                                                     ("array", float, [2.0]))])
        finally:
            if real is None:
                del sys.modules["numpy"]
            else:
                sys.modules["numpy"] = real
            importlib.reload(wave1d_profiles)


if __name__ == "__main__":
    WAVE1D = os.path.abspath(sys.argv.pop(1))
    unittest.main()
