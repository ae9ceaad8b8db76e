"""Reads the phi profiles that wave1d writes, phi.xl and phi.xtl.

    from wave1d.profiles import read_xl
    time, x, phi = read_xl("phi.xl")[-1]   # the profile of the last output time

read_xl(path) and read_xtl(path) return a list with one (time, x, phi) per output time in
the file: time a float, x and phi numpy arrays of floats. phi.xl holds every output time,
time zero included; phi.xtl starts after time zero. An output time is read once the two empty
lines that end it are in the file, so the last one of a file that a running program is still
writing, or that a killed program left cut short (even in the middle of a line), is left out.

Every value is the float that float() gives for its text, in every number form of the files:
"-2.50000000E-03", an exponent of three digits written without the letter E ("1.58000000+157",
"-1.00000000-300", read as if the E were there), "Infinity", "-Infinity" and "NaN". The files
write a phi that is NaN, or of magnitude not above 1e-50, as zero. Anything else raises
ValueError naming the file and the line.

The program writes each number in a field of 16 columns, and such files are read whole, as
arrays of bytes: nine digits times a power of ten up to 10^22 is one product or quotient of two
exact doubles, which IEEE arithmetic rounds as float() does. Beyond 10^22 either way, a product
in long doubles of 64 bits (x86) decides, except where it lies too near halfway between two
doubles; those values, Infinity and NaN go through float(). A file laid out otherwise is read
line by line. Importing this module needs the standard library only; reading needs numpy.
"""

import fractions
import functools
import re

__all__ = ["read_xl", "read_xtl", "parse_number", "xl_table"]

_NUMBER = re.compile(r"([-+]?(?:[0-9]+\.?[0-9]*|\.[0-9]+))(?:[Ee]([-+]?[0-9]+)|([-+][0-9]+))?")
_NON_FINITE = {"Infinity": float("inf"), "-Infinity": float("-inf"), "NaN": float("nan")}


# float() reads these characters in the forms of _NUMBER only, and does so fastest.
_PLAIN = frozenset("0123456789.Ee+-")


def parse_number(text):
    """The float of one field of a profile file; ValueError for any other text."""
    if text in _NON_FINITE:
        return _NON_FINITE[text]
    if _PLAIN.issuperset(text):
        try:
            return float(text)
        except ValueError:
            pass  # an exponent without its letter, or no number at all
    match = _NUMBER.fullmatch(text)
    if match is None:
        raise ValueError(f'"{text}" is not a number')
    mantissa, exponent, bare_exponent = match.groups()
    exponent = exponent or bare_exponent
    return float(mantissa + "e" + exponent if exponent else mantissa)


# The last point line of an output time and the two empty lines after it: three line ends in a
# row, which nowhere else in either file follow each other.
_BLOCK_END = b"\n\n\n"

# The layout of the program's files: "#Time = " and the time in 14 columns; x and phi (and, in
# phi.xtl, the time before them) in 16 columns each, as " -d.ddddddddE+dd" right-aligned.
_TIME_LINE = 23
_FIELD = 16
_XL_LINE = 2 * _FIELD + 1
_XTL_LINE = 3 * _FIELD + 1
# Powers of ten that are exact doubles (5^22 < 2^53), as the exact integers converted.
_EXACT_POWERS = [float(10**k) for k in range(23)]


def _whole_text(path):
    """The bytes of the file up to the end of its last whole output time."""
    with open(path, "rb") as file:
        data = file.read()
    end = data.rfind(_BLOCK_END)
    return data[:end + 3] if end >= 0 else b""


# A field read as two little-endian words of eight bytes. In the first, what all the program's
# number fields hold: the blank, the digit, the point and four digits of " -d.dddddddd"; in the
# second, the rest of it: four digits, then "E+dd", or "+ddd" for an exponent of three digits.
# For each form, the bits that hold the same in every such field (the upper halves of the
# digits' bytes among them) and what they hold, and the lower halves of the digits' bytes.
_MANTISSA_WORD = (0xF0F0F0F0_FFF000FF, 0x30303030_2E300020, 0x0F0F0F0F_000F0000)
_E_WORD = (0xF0F000FF_F0F0F0F0, 0x30300045_30303030, 0x0F0F0000_0F0F0F0F)
_BARE_WORD = (0xF0F0F000_F0F0F0F0, 0x30303000_30303030, 0x0F0F0F00_0F0F0F0F)


def _u64(value):
    import numpy

    return numpy.uint64(value)


def _has_form(word, form):
    """Whether each word holds the fixed bits of form, and digits where it has digits."""
    mask, bits, digit_halves = form
    # A lower half of 10 or more carries into the upper half when 6 is added to it.
    carries = ((word & _u64(digit_halves)) + _u64(digit_halves & 0x06060606_06060606)
               ) & _u64(digit_halves << 4 & 0x10101010_10101010)
    return ((word & _u64(mask)) == _u64(bits)) & (carries == 0)


def _eight_digits(word):
    """The number that the eight digit bytes of each word write, the first in the lowest."""
    word = (word & _u64(0x0F0F0F0F0F0F0F0F)) * _u64(2561) >> _u64(8)
    word = (word & _u64(0x00FF00FF00FF00FF)) * _u64(6553601) >> _u64(16)
    return (word & _u64(0x0000FFFF0000FFFF)) * _u64(42949672960001) >> _u64(32)


def _field_values(fields):
    """The floats of fields (an array of bytes whose last axis holds the 16 columns of one
    field), or None when a field is in none of the program's forms."""
    import numpy

    shape = fields.shape[:-1]
    fields = numpy.ascontiguousarray(fields).reshape(-1, _FIELD)
    words = fields.view("<u8")
    low, high = words[:, 0], words[:, 1]
    with_e = _has_form(high, _E_WORD)
    sign = fields[:, 1]
    exponent_sign = numpy.where(with_e, fields[:, 13], fields[:, 12])
    regular = (_has_form(low, _MANTISSA_WORD) & (with_e | _has_form(high, _BARE_WORD))
               & ((sign == ord(" ")) | (sign == ord("-")))
               & ((exponent_sign == ord("+")) | (exponent_sign == ord("-"))))
    hundreds, tens, units = (fields[:, 13:] & 15).astype(numpy.int16).T
    exponent = numpy.where(with_e, 0, hundreds * 100) + tens * 10 + units
    # The value is the integer of its nine digits times 10^power.
    power = numpy.where(exponent_sign == ord("-"), -exponent, exponent) - 8
    digits = ((fields[:, 2] & 15) * 1e8
              + _eight_digits(low >> _u64(32) | high << _u64(32)).astype(float))
    values = numpy.empty(len(fields))
    # Nine digits and a power of ten up to 10^22 are both exact doubles, so one operation
    # gives the value rounded to nearest, as float() rounds it.
    exact = regular & (numpy.abs(power) <= 22)
    exact_power = numpy.array(_EXACT_POWERS)[numpy.where(exact, numpy.abs(power), 0)]
    values[:] = numpy.where(power >= 0, digits * exact_power, digits / exact_power)
    left = ~exact
    if left.any():
        far = left & regular
        values[far], decided = _far_values(digits[far], power[far])
        far[far] = decided
        left &= ~far
    values = numpy.where(sign == ord("-"), -values, values)
    if left.any():
        texts = _texts_as_floats(fields[left])
        if texts is None:
            return None
        values[left] = texts
    return values.reshape(shape)


# The powers of ten that _far_values has: those of the exponents that doubles reach.
_FAR_POWERS = range(-340, 320)


@functools.lru_cache(maxsize=None)
def _long_double_powers():
    """10^p for each p of _FAR_POWERS as a long double rounded once from the exact value, or
    None where long doubles have fewer than 64 bits of significand (only x86 has them)."""
    import numpy

    if numpy.finfo(numpy.longdouble).nmant < 63:
        return None
    significands, exponents = [], []
    for power in _FAR_POWERS:
        exact = fractions.Fraction(10) ** power
        # exact / 2^exponent starts in [2^63, 2^65): a significand of 64 bits after a step.
        exponent = exact.numerator.bit_length() - exact.denominator.bit_length() - 64
        while (significand := round(exact / fractions.Fraction(2) ** exponent)) >= 1 << 64:
            exponent += 1
        significands.append(significand)
        exponents.append(exponent)
    return numpy.ldexp(numpy.array(significands, dtype=numpy.uint64).astype(numpy.longdouble),
                       numpy.array(exponents))


def _far_values(digits, power):
    """digits * 10^power rounded to a double, with the power beyond 10^22 either way, and
    whether each is sure to be the double float() gives.

    The product in long doubles (64 bits of significand) is within 2^-63 of itself from the
    exact value. Rounded to a double it gives float()'s double unless a point halfway between
    two doubles lies that close: those are left undecided."""
    import numpy

    powers = _long_double_powers()
    values = numpy.zeros(len(digits))
    if powers is None:
        return values, numpy.zeros(len(digits), dtype=bool)
    inside = (power >= _FAR_POWERS.start) & (power < _FAR_POWERS.stop)
    product = digits.astype(numpy.longdouble) * powers[numpy.where(inside, power, 0)
                                                        - _FAR_POWERS.start]
    with numpy.errstate(over="ignore"):  # beyond the largest double: left to float()
        values = product.astype(float)
    margin = product * numpy.longdouble(2.0**-62)
    decided = inside & numpy.isfinite(values) & (values > 0)
    for neighbour in (numpy.nextafter(values, 0), numpy.nextafter(values, numpy.inf)):
        halfway = (values.astype(numpy.longdouble) + neighbour) / 2
        decided &= numpy.abs(product - halfway) > margin
    return values, decided


def _texts_as_floats(fields):
    """float() of each row of fields (16 columns each), with the E put back before an exponent
    of three digits; None when one is no number."""
    import numpy

    texts = numpy.full((len(fields), _FIELD + 2), ord(" "), dtype=numpy.uint8)
    texts[:, :_FIELD] = fields
    bare = numpy.isin(fields[:, 12], list(b"+-")) & numpy.isin(fields[:, 11], list(b"0123456789"))
    texts[bare, 12] = ord("e")
    texts[bare, 13:_FIELD + 1] = fields[bare, 12:]
    words = texts.tobytes().split()
    if len(words) != len(fields):
        return None
    try:
        return numpy.array(list(map(float, words)), dtype=float)
    except ValueError:
        return None


def _xl_arrays(whole):
    """(times, x, phi) of the whole text of a phi.xl laid out as the program writes it, x and
    phi with a row per output time; None for any other text."""
    import numpy

    length = whole.find(_BLOCK_END) + 3
    points, rest = divmod(length - _TIME_LINE - 2, _XL_LINE)
    if not whole or rest or points < 0 or len(whole) % length:
        return None
    blocks = numpy.frombuffer(whole, dtype=numpy.uint8).reshape(-1, length)
    lines = blocks[:, _TIME_LINE:length - 2].reshape(len(blocks), points, _XL_LINE)
    if not ((blocks[:, :8] == numpy.frombuffer(b"#Time = ", dtype=numpy.uint8)).all()
            and (blocks[:, _TIME_LINE - 1] == 10).all() and (blocks[:, -2:] == 10).all()
            and (lines[:, :, -1] == 10).all()):
        return None
    x = _field_values(lines[:, :, :_FIELD])
    phi = _field_values(lines[:, :, _FIELD:2 * _FIELD])
    times = _time_values(bytes(row[8:_TIME_LINE - 1]) for row in blocks)
    return None if x is None or phi is None or times is None else (times, x, phi)


def _xtl_arrays(whole):
    """(times, x, phi) of the whole text of a phi.xtl laid out as the program writes it; None
    for any other text."""
    import numpy

    # Without the empty lines after points, each output time is its lines and one line end.
    text = whole.replace(b"\n\n", b"\n")
    length = text.find(b"\n\n") + 2
    points, rest = divmod(length - 1, _XTL_LINE)
    if not whole or rest or points < 1 or len(text) % length:
        return None
    blocks = numpy.frombuffer(text, dtype=numpy.uint8).reshape(-1, length)
    lines = blocks[:, :-1].reshape(len(blocks), points, _XTL_LINE)
    if not ((blocks[:, -1] == 10).all() and (lines[:, :, -1] == 10).all()):
        return None
    x = _field_values(lines[:, :, _FIELD:2 * _FIELD])
    phi = _field_values(lines[:, :, 2 * _FIELD:3 * _FIELD])
    times = _time_values(bytes(row[0, :_FIELD]) for row in lines)
    return None if x is None or phi is None or times is None else (times, x, phi)


def _time_values(texts):
    import numpy

    try:
        return numpy.array([parse_number(text.decode("ascii").strip()) for text in texts],
                           dtype=float)
    except ValueError:
        return None


def _lines(whole):
    """(line number, fields) of each line of the text, blank ones included."""
    for number, line in enumerate(whole.decode("ascii", errors="replace").split("\n"), 1):
        yield number, line.split()


def _numbers(path, number, fields):
    try:
        return [parse_number(field) for field in fields]
    except ValueError as error:
        raise ValueError(f"{path}, line {number}: {error}") from None


def _xl_lines(path, whole):
    """The output times of a phi.xl read line by line: a line "#Time = t" opens each, then a
    line "x phi" per point."""
    blocks = []
    for number, fields in _lines(whole):
        if fields[:2] == ["#Time", "="] and len(fields) == 3:
            blocks.append((_numbers(path, number, fields[2:])[0], [], []))
        elif len(fields) == 2 and blocks:
            x, phi = _numbers(path, number, fields)
            blocks[-1][1].append(x)
            blocks[-1][2].append(phi)
        elif fields:
            raise ValueError(f'{path}, line {number}: expected "#Time = t" or "x phi"')
    return blocks


def _xtl_lines(path, whole):
    """The output times of a phi.xtl read line by line: lines "t x phi", each followed by an
    empty line where phi is written with its own value; two or more empty lines in a row end an
    output time."""
    blocks = []
    empty_lines = 2
    for number, fields in _lines(whole):
        if not fields:
            empty_lines += 1
            continue
        if len(fields) != 3:
            raise ValueError(f'{path}, line {number}: expected "t x phi"')
        time, x, phi = _numbers(path, number, fields)
        if empty_lines >= 2:
            blocks.append((time, [], []))
        empty_lines = 0
        blocks[-1][1].append(x)
        blocks[-1][2].append(phi)
    return blocks


def _read(path, arrays, lines):
    import numpy

    whole = _whole_text(path)
    table = arrays(whole)
    if table is not None:
        return [(float(time), x, phi) for time, x, phi in zip(*table)]
    return [(time, numpy.array(x, dtype=float), numpy.array(phi, dtype=float))
            for time, x, phi in lines(path, whole)]


def read_xl(path):
    """The profiles of phi.xl: a line "#Time = t" opens each, then a line "x phi" per point."""
    return _read(path, _xl_arrays, _xl_lines)


def read_xtl(path):
    """The profiles of phi.xtl: lines "t x phi", each followed by an empty line where phi is
    written with its own value; two or more empty lines in a row end an output time."""
    return _read(path, _xtl_arrays, _xtl_lines)


def xl_table(path):
    """(times, x, phi) of phi.xl as numpy arrays: times 1-D, x and phi 2-D with a row per
    output time. ValueError when the output times differ in their numbers of points."""
    import numpy

    whole = _whole_text(path)
    table = _xl_arrays(whole)
    if table is not None:
        return table
    blocks = _xl_lines(path, whole)
    if len({len(x) for _, x, _ in blocks}) > 1:
        raise ValueError(f"{path}: the output times hold different numbers of points")
    points = len(blocks[0][1]) if blocks else 0
    times = numpy.array([time for time, _, _ in blocks], dtype=float)
    x = numpy.array([x for _, x, _ in blocks], dtype=float).reshape(len(blocks), points)
    phi = numpy.array([phi for _, _, phi in blocks], dtype=float).reshape(len(blocks), points)
    return times, x, phi
