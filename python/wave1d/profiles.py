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
write a phi that is NaN, or of magnitude not above 1e-50, as zero. A text that is no number
raises ValueError naming the file and the line.

When every output time of a file holds the same number of points, numpy.loadtxt reads all the
points at once (it rounds as float() does), from a temporary copy of the file; any other file
is read line by line. Importing this module needs the standard library only; reading needs
numpy.
"""

import io
import re
import tempfile

__all__ = ["read_xl", "read_xtl", "parse_number", "xl_table", "last_time"]

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


# Three or more line ends in a row: the end of an output time (the last point line and the two
# empty lines after it), which nowhere else in either file follow each other.
_BLOCK_END = re.compile(rb"\n\n\n+")
# An exponent written without its letter: a digit, the exponent's sign and a digit.
_BARE_EXPONENT = re.compile(rb"([0-9])([+-][0-9])")


def _whole_text(path):
    """The bytes of the file up to the end of its last whole output time."""
    with open(path, "rb") as file:
        data = file.read()
    end = data.rfind(b"\n\n\n")
    return data[:end + 3] if end >= 0 else b""


def _spans(whole):
    """(start, end) of the text of each output time in whole: its lines with their line ends,
    the empty lines after them left out."""
    start = 0
    for end in _BLOCK_END.finditer(whole):
        yield start, end.start() + 1
        start = end.end()


def _line_counts(whole, spans):
    """The number of lines that are not empty in each span of whole."""
    import numpy

    ends = numpy.flatnonzero(numpy.frombuffer(whole, dtype=numpy.uint8) == ord("\n"))
    # The line ends of lines that are not empty: those not right after another.
    ends = ends[numpy.diff(ends, prepend=-1) > 1]
    first, after = numpy.searchsorted(ends, numpy.array(spans, dtype=int).reshape(-1, 2)).T
    return list(after - first)


def _loaded(text):
    """numpy.loadtxt of text, what follows a "#" on a line left out."""
    import numpy

    # loadtxt reads a file given by name in large pieces, but a file object line by line, which
    # is much slower; so the text goes through a temporary file where one can be written.
    try:
        with tempfile.NamedTemporaryFile(prefix="wave1d-") as file:
            file.write(text)
            file.flush()
            return numpy.loadtxt(file.name, comments="#", ndmin=2)
    except OSError:
        return numpy.loadtxt(io.BytesIO(text), comments="#", ndmin=2)


def _points(whole, counts, columns):
    """The numbers of the point lines of whole as an array (output time, point, column), given
    the number of lines that each output time holds; ValueError unless each holds the same
    number of lines of columns numbers."""
    if len(set(counts)) != 1 or counts[0] < 1:
        raise ValueError("the output times hold different numbers of points")
    try:
        table = _loaded(whole)
    except ValueError:
        # Exponents of three digits are rare (values beyond 1e99 or within 1e-99), so the text
        # is searched for them only when loadtxt cannot read it as it is.
        table = _loaded(_BARE_EXPONENT.sub(rb"\1E\2", whole))
    # Fewer lines than counted are read where an output time holds lines of blanks or comments.
    if table.shape != (len(counts) * counts[0], columns):
        raise ValueError("the output times are not laid out as the program writes them")
    return table.reshape(len(counts), counts[0], columns)


def _xl_arrays(whole):
    """(times, x, phi) of the whole text of a phi.xl, x and phi with a row per output time;
    ValueError unless each output time is a line "#Time = t" and the same number of lines
    "x phi"."""
    import numpy

    spans = list(_spans(whole))
    table = _points(whole, [count - 1 for count in _line_counts(whole, spans)], 2)
    heads = [whole[start:whole.find(b"\n", start)].split() for start, _ in spans]
    if any(len(head) != 3 or head[:2] != [b"#Time", b"="] for head in heads):
        raise ValueError('an output time does not start with "#Time = t"')
    times = numpy.array([parse_number(head[2].decode("ascii")) for head in heads], dtype=float)
    return times, table[:, :, 0], table[:, :, 1]


def _xtl_arrays(whole):
    """(times, x, phi) of the whole text of a phi.xtl, x and phi with a row per output time;
    ValueError unless each output time holds the same number of lines "t x phi"."""
    table = _points(whole, _line_counts(whole, list(_spans(whole))), 3)
    return table[:, 0, 0], table[:, :, 1], table[:, :, 2]


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
    try:
        return [(float(time), x, phi) for time, x, phi in zip(*arrays(whole))]
    except ValueError:
        pass  # read line by line, which names the line that is amiss
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
    try:
        return _xl_arrays(whole)
    except ValueError:
        pass
    blocks = _xl_lines(path, whole)
    if len({len(x) for _, x, _ in blocks}) > 1:
        raise ValueError(f"{path}: the output times hold different numbers of points")
    points = len(blocks[0][1]) if blocks else 0
    times = numpy.array([time for time, _, _ in blocks], dtype=float)
    x = numpy.array([x for _, x, _ in blocks], dtype=float).reshape(len(blocks), points)
    phi = numpy.array([phi for _, _, phi in blocks], dtype=float).reshape(len(blocks), points)
    return times, x, phi


def last_time(path):
    """The time of the last output time of a phi.xl when that output time is whole, else
    None; only the end of the file is read, however long it is."""
    with open(path, "rb") as file:
        size, length = file.seek(0, io.SEEK_END), 1 << 16
        while True:
            file.seek(max(0, size - length))
            tail = file.read()
            start = tail.rfind(b"#Time =")
            if start >= 0 or length >= size:
                break
            length *= 8
    if start < 0 or not tail.endswith(b"\n\n\n"):
        return None
    return parse_number(tail[start + len(b"#Time ="):].split(b"\n", 1)[0].decode("ascii").strip())
