"""Reads the phi profiles that wave1d writes, phi.xl and phi.xtl.

    from wave1d.profiles import read_xl
    time, x, phi = read_xl("phi.xl")[-1]   # the profile of the last output time

read_xl(path) and read_xtl(path) return a list with one (time, x, phi) per output time in
the file: time a float, x and phi numpy arrays of floats when numpy can be imported, lists of
floats otherwise. phi.xl holds every output time, time zero included; phi.xtl starts after
time zero.

Every number form of the files is read: "-2.50000000E-03", an exponent of three digits
written without the letter E ("1.58000000+157", "-1.00000000-300"), "Infinity", "-Infinity"
and "NaN". The files write a phi that is NaN, or of magnitude not above 1e-50, as zero.
Anything else raises ValueError naming the file and the line. This module needs the Python 3
standard library only, so that the tools that read profiles run on any Python 3.
"""

import re

__all__ = ["read_xl", "read_xtl", "parse_number"]

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


def _array(values):
    try:
        import numpy  # here, so that a tool that only reads numbers starts without it
    except ImportError:
        return values
    return numpy.array(values, dtype=float)


def _fields(path):
    """(line number, fields) of each line of the file, blank ones included."""
    with open(path, encoding="ascii") as lines:
        for number, line in enumerate(lines, 1):
            yield number, line.split()


def _numbers(path, number, fields):
    try:
        return [parse_number(field) for field in fields]
    except ValueError as error:
        raise ValueError(f"{path}, line {number}: {error}") from None


def _finish(blocks):
    return [(time, _array(x), _array(phi)) for time, x, phi in blocks]


def read_xl(path):
    """The profiles of phi.xl: a line "#Time = t" opens each, then a line "x phi" per point."""
    blocks = []
    for number, fields in _fields(path):
        if fields[:2] == ["#Time", "="] and len(fields) == 3:
            blocks.append((_numbers(path, number, fields[2:])[0], [], []))
        elif len(fields) == 2 and blocks:
            x, phi = _numbers(path, number, fields)
            blocks[-1][1].append(x)
            blocks[-1][2].append(phi)
        elif fields:
            raise ValueError(f'{path}, line {number}: expected "#Time = t" or "x phi"')
    return _finish(blocks)


def read_xtl(path):
    """The profiles of phi.xtl: lines "t x phi", each followed by an empty line where phi is
    written with its own value; two or more empty lines in a row end an output time."""
    blocks = []
    empty_lines = 2
    for number, fields in _fields(path):
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
    return _finish(blocks)
