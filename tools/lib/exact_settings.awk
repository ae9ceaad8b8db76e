# Whether the exact solution of a run's input holds at its last output time, and with what.
# Set with -v: xmin, xmax, courant, amplitude, width, center (as written in the input), nx, nt,
# every (the magnitude of every_1D), lapsetype, shifttype. Needs profile_numbers.awk.
#
# Prints "-v exact=1 -v beta=B -v amplitude=A -v width=W -v center=C -v t=T" for
# convergence_compare.awk, or "-v exact=0" and then, on a line of its own, the reason why there
# is no exact solution. It holds for a lapse of 1 and a constant shift, and only while both
# halves of the pulse, four widths on either side, stay inside the domain: at the boundaries
# the solution is no longer the free one.

function abs(v) { return v < 0 ? -v : v }

function none(reason) {
    print "-v exact=0"
    print reason
    exit
}

BEGIN {
    if (lapsetype + 0 != 0) none("the lapse is not 1")
    if (shifttype + 0 == 4) none("the shift is not constant")
    beta = shifttype == 1 ? 0.5 : shifttype == 2 ? 1 : shifttype == 3 ? 1.2 : 0
    if (!is_finite_field(xmin) || !is_finite_field(xmax) || !is_finite_field(courant) ||
        !is_finite_field(amplitude) || !is_finite_field(width) || !is_finite_field(center))
        none("a real value of the input is not in a form this tool reads")
    lo = field_value(xmin); hi = field_value(xmax)
    if (lo > hi) { swap = lo; lo = hi; hi = swap }
    w = abs(field_value(width)); c = field_value(center)
    if (w == 0) none("the width is 0")
    # The last output time; the runs reach it by repeated addition, within rounding.
    t = int(nt / every) * every * field_value(courant) * ((field_value(xmax) - field_value(xmin)) / nx)
    left = c - (beta + 1) * t; right = c - (beta - 1) * t
    first = left < right ? left : right
    last = left < right ? right : left
    if (c - 4 * w < lo || c + 4 * w > hi || first - 4 * w < lo || last + 4 * w > hi)
        none(sprintf("the pulse does not stay inside the domain up to time %.9g", t))
    printf "-v exact=1 -v beta=%.17g -v amplitude=%.17g -v width=%.17g -v center=%.17g -v t=%.17g\n",
           beta, field_value(amplitude), w, c, t
}
