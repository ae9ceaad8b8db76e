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
