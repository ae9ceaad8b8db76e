"""The twelve input values of wave1d: their names, the forms the program reads, and input files.

The program reads one value per line: blank lines and leading blanks are skipped, a value ends
at a blank, a comma, a slash or the line end, and the rest of its line is ignored. An integer
is an optional sign and decimal digits within 32 bits; a real is an optional sign, digits with
an optional decimal point and an optional exponent with E, e, D or d, and must stay within the
range of a double. Values are checked here by the same rules, so that a value the program would
refuse is refused before any run.
"""

import math
import numbers
import re

__all__ = ["NAMES", "INTEGER_NAMES", "InputError", "value_text", "read_input", "input_text"]

# In the order the program asks for them.
NAMES = ("xmin", "xmax", "nx", "courant", "nt", "boundtype", "amplitude", "width", "center",
         "every_1D", "lapsetype", "shifttype")
INTEGER_NAMES = frozenset(("nx", "nt", "boundtype", "every_1D", "lapsetype", "shifttype"))

_INTEGER = re.compile(r"[-+]?[0-9]+")
_REAL = re.compile(r"[-+]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[EeDd][-+]?[0-9]+)?")
_ITEM_END = re.compile(r"[ \t\r,/]")


class InputError(ValueError):
    """A name that is not one of the twelve, or a value the program cannot read."""


def _integer_refusal(text):
    return f'"{text}" is not an integer from -2147483648 to 2147483647'


def _real_refusal(text):
    return f'"{text}" is not a real number within the range of a double'


def value_of(name, text):
    """The int or float that the program reads from the text of the value name."""
    if name in INTEGER_NAMES:
        if not _INTEGER.fullmatch(text) or not -2**31 <= int(text) < 2**31:
            raise InputError(f"{name}: {_integer_refusal(text)}")
        return int(text)
    if not _REAL.fullmatch(text):
        raise InputError(f"{name}: {_real_refusal(text)}")
    value = float(text.translate(str.maketrans("Dd", "ee")))
    if math.isinf(value):
        raise InputError(f"{name}: {_real_refusal(text)}")
    return value


def value_text(name, value):
    """The text of a value for the input file, from a Python number or a text the program
    reads; InputError for an unknown name or a value the program would refuse."""
    if name not in NAMES:
        raise InputError(f'"{name}" is not one of the twelve values: {", ".join(NAMES)}')
    if isinstance(value, str):
        text = value
    elif isinstance(value, bool):
        raise InputError(f"{name}: {value!r} is not a number")
    elif isinstance(value, numbers.Integral):
        text = str(int(value))
    elif isinstance(value, numbers.Real) and name not in INTEGER_NAMES:
        if not math.isfinite(value):
            raise InputError(f"{name}: {_real_refusal(value)}")
        text = repr(float(value))  # the shortest text that reads back as the same double
    else:
        raise InputError(f"{name}: {value!r} is not " +
                         ("an integer" if name in INTEGER_NAMES else "a real number"))
    value_of(name, text)
    return text


def read_input(path):
    """The texts of the twelve values of an input file, by name, read as the program reads
    them; InputError naming the file and the line where the program would stop."""
    texts = {}
    with open(path, encoding="utf-8", errors="surrogateescape") as lines:
        for number, line in enumerate(lines, 1):
            if len(texts) == len(NAMES):
                break
            line = line.rstrip("\n").lstrip(" \t\r")
            if not line:
                continue
            if line[0] in ",/":
                raise InputError(f"{path}, line {number}: no value for {NAMES[len(texts)]} "
                                 f'(the line begins with "{line[0]}")')
            name = NAMES[len(texts)]
            text = _ITEM_END.split(line, 1)[0]
            try:
                value_of(name, text)
            except InputError as error:
                raise InputError(f"{path}, line {number}: {error}") from None
            texts[name] = text
    if len(texts) < len(NAMES):
        raise InputError(f"{path} holds only {len(texts)} of the twelve values; "
                         f"{NAMES[len(texts)]} is missing")
    return texts


def input_text(texts):
    """An input file of the twelve value texts, each line the value and then its name."""
    return "".join(f"{texts[name]:<12} {name}\n" for name in NAMES)
