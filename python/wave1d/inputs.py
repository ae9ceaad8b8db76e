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

__all__ = ["NAMES", "INTEGER_NAMES", "InputError", "value_text", "read_input", "input_text",
           "fit_final_time"]

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


def time_step(texts):
    """The dt of a run of the twelve value texts, computed in the order the program computes
    it, so that it is the same double: dx = (xmax - xmin) / nx, then dt = courant * dx."""
    values = {name: value_of(name, texts[name]) for name in ("xmin", "xmax", "nx", "courant")}
    if values["nx"] == 0:
        raise InputError("nx is 0: the run has no time step")
    return values["courant"] * ((values["xmax"] - values["xmin"]) / float(values["nx"]))


def _nearest_divisor(number, wanted):
    """The divisor of number nearest to wanted, in ratio, among those of at least wanted / 2:
    a number with no divisor near wanted (a prime, say) gets fewer output steps, never up to
    number of them, each a whole profile in the files."""
    best = number
    for small in range(1, math.isqrt(number) + 1):
        if number % small == 0:
            for divisor in (small, number // small):
                if 2 * divisor >= wanted and \
                        abs(math.log(divisor / wanted)) < abs(math.log(best / wanted)):
                    best = divisor
    return best


def fit_final_time(texts, final_time=None, outputs=None):
    """The twelve value texts with nt and every_1D changed: with final_time, nt is the nearest
    whole number of steps to final_time/dt, at least 1, so that the run ends within half a step
    of it; with outputs, every_1D gives about that many output steps after time zero, at least
    one. Whenever either is given, every_1D is the divisor of nt nearest to nt/outputs (or to
    the |every_1D| given), so that the last step is an output step and the last norms are those
    of the final time, but never one that gives more than twice the output steps asked for; an
    every_1D of 0 without outputs stays 0. InputError when nt would leave
    32 bits or dt is 0 or not finite."""
    texts = dict(texts)
    if final_time is not None:
        dt = time_step(texts)
        if dt == 0 or not math.isfinite(final_time / dt):
            raise InputError(f"dt is {dt!r}: no number of steps reaches the final time "
                             f"{final_time!r}")
        steps = max(1, math.floor(final_time / dt + 0.5))
        if steps >= 2**31:
            raise InputError(f"{steps} steps of dt = {dt!r} to the final time {final_time!r}: "
                             "nt would not fit 32 bits")
        texts["nt"] = str(steps)
    if final_time is None and outputs is None:
        return texts
    steps = value_of("nt", texts["nt"])
    every = abs(value_of("every_1D", texts["every_1D"]))
    if steps >= 1 and (outputs is not None or every != 0):
        wanted = steps / max(outputs, 1) if outputs is not None else every
        texts["every_1D"] = str(_nearest_divisor(steps, max(wanted, 1)))
    return texts
