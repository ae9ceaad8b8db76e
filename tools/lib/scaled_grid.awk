# The grid of a run refined by a factor scale: prints its nx and xmax. Set with -v: xmin, xmax
# (as written in the input), nx, scale, periodic (1 for the periodic boundary). Needs
# profile_numbers.awk.
#
# Normally nx is multiplied by scale and the domain stays. A periodic grid repeats every nx - 2
# intervals, (nx - 2) * dx long, which would change with the resolution; there the refined
# grid gets scale * (nx - 2) + 2 intervals of dx / scale and xmax moves to keep the period.

BEGIN {
    if (!periodic || scale == 1) {
        print nx * scale, xmax
        exit
    }
    fine_nx = scale * (nx - 2) + 2
    dx = (field_value(xmax) - field_value(xmin)) / nx
    printf "%d %.15g\n", fine_nx, field_value(xmin) + fine_nx * (dx / scale)
}
