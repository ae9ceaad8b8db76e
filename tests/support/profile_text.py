"""Numbers as the profile files write them, for the tests that read those files."""

import math


def written(value, digits):
    """value as the profile files write it with digits significant digits, formatted
    independently of the reader: an exponent of three digits loses its letter E."""
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "Infinity" if value > 0 else "-Infinity"
    mantissa, exponent = f"{value:.{digits - 1}E}".split("E")
    exponent = int(exponent)
    return mantissa + (f"E{exponent:+03d}" if abs(exponent) < 100 else f"{exponent:+04d}")


def xl_blocks(blocks):
    """The text of each output time (time, xs, phis) as phi.xl lays it out."""
    return [f"#Time = {written(time, 7):>14}\n"
            + "".join(f"{written(x, 9):>16}{written(phi, 9):>16}\n" for x, phi in zip(xs, phis))
            + "\n\n" for time, xs, phis in blocks]


def xtl_blocks(blocks):
    """The text of each output time (time, xs, phis) as phi.xtl lays it out: an empty line
    after each point whose phi is not written as zero."""
    return ["".join(f"{written(time, 9):>16}{written(x, 9):>16}{written(phi, 9):>16}\n"
                    + ("\n" if phi != 0 else "") for x, phi in zip(xs, phis))
            + "\n\n" for time, xs, phis in blocks]
