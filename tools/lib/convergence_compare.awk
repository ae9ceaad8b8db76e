# Compares the last profile of phi.xl from three runs whose grid spacings are dx, dx/2 and dx/4
# (the files given in that order). The sampled points of the run at dx (every fourth grid point)
# are also sampled by the finer runs, as their every second and every fourth sample; phi is
# compared there.
#
# Prints the norms of the differences, the self-convergence factor
#     Q = |phi(dx) - phi(dx/2)| / |phi(dx/2) - phi(dx/4)|,
# which is 4 for a second-order scheme, and with exact = 1 the error of each run against
#     phi(x, t) = [f(x + (beta + 1) t) + f(x + (beta - 1) t)] / 2,
#     f(x) = amplitude exp(-(x - center)^2 / width^2),
# the solution for a lapse of 1, a constant shift beta and a gaussian with pi = 0 at time zero,
# at the last output time t. Norms are the root mean square (L2) and the
# largest magnitude (max) over the common points.
#
# Needs profile_numbers.awk. Exits with status 3 and a message on standard error when a profile
# holds a value that is not finite or the sampled points do not line up.

function fail(message) {
    print message > "/dev/stderr"
    failed = 1
    exit 3
}

# exp(-q) of the gaussian, 0 where it is below the smallest double: gawk warns of every exp()
# whose result underflows.
function gaussian(q) { return q > 745 ? 0 : exp(-q) }

function exact_phi(x, t,    a, b) {
    a = x + (beta + 1) * t - center
    b = x + (beta - 1) * t - center
    return amplitude * (gaussian((a * a) / (width * width)) + \
                        gaussian((b * b) / (width * width))) / 2
}

function abs(v) { return v < 0 ? -v : v }

function add(name, m, d) {
    difference[name, m] = d
    if (abs(d) > largest[name]) largest[name] = abs(d)
}

# Root mean square, scaled by the largest magnitude so that the squares of the huge values of
# an unstable run do not overflow.
function l2(name,    m, q, sum) {
    if (largest[name] == 0) return 0
    for (m = 0; m < points; m++) {
        q = difference[name, m] / largest[name]
        sum += q * q
    }
    return largest[name] * sqrt(sum / points)
}

function ratio(a, b) { return b > 0 ? sprintf("%.4f", a / b) : "undefined (zero difference)" }

FNR == 1 { run++ }
/^#Time = / { count[run] = 0; next }
NF == 2 {
    if (!is_finite_field($1) || !is_finite_field($2))
        fail(sprintf("%s: the last profile holds \"%s %s\", not a finite value " \
                     "(is the run unstable?)", FILENAME, $1, $2))
    n = count[run]++
    xs[run, n] = field_value($1)
    phi[run, n] = field_value($2)
}

END {
    if (failed) exit 3
    # A periodic grid refined with its period kept can end short of the coarsest one's last
    # sampled point; the comparison stops at the last point that all three runs sample.
    points = count[1]
    if (points > int((count[2] - 1) / 2) + 1) points = int((count[2] - 1) / 2) + 1
    if (points > int((count[3] - 1) / 4) + 1) points = int((count[3] - 1) / 4) + 1
    if (points < 2)
        fail(sprintf("fewer than two sampled points in common (the runs sample %d, %d, %d)",
                     count[1], count[2], count[3]))
    for (m = 0; m < points; m++) {
        x = xs[1, m]
        # x is written with nine significant digits; the three grids agree far closer.
        tolerance = 1e-7 * (abs(x) > 1 ? abs(x) : 1)
        if (abs(xs[2, 2 * m] - x) > tolerance || abs(xs[3, 4 * m] - x) > tolerance)
            fail(sprintf("the sampled points do not line up: x = %.9g, %.9g, %.9g",
                         x, xs[2, 2 * m], xs[3, 4 * m]))
        p1 = phi[1, m]; p2 = phi[2, 2 * m]; p4 = phi[3, 4 * m]
        add("12", m, p1 - p2)
        add("24", m, p2 - p4)
        if (exact) {
            add("e1", m, p1 - exact_phi(x, t))
            add("e2", m, p2 - exact_phi(x, t))
            add("e4", m, p4 - exact_phi(x, t))
        }
    }

    printf "compared at %d common points, from x = %.9g to %.9g\n", points, xs[1, 0], xs[1, points - 1]
    printf "  %-28s  %-12s  %-12s\n", "", "L2", "max"
    printf "  %-28s  %-12.4e  %-12.4e\n", "|phi(dx) - phi(dx/2)|", l2("12"), largest["12"]
    printf "  %-28s  %-12.4e  %-12.4e\n", "|phi(dx/2) - phi(dx/4)|", l2("24"), largest["24"]
    printf "self-convergence factor: %s (L2), %s (max); 4 for a second-order scheme\n",
           ratio(l2("12"), l2("24")), ratio(largest["12"], largest["24"])
    if (!exact) exit 0
    printf "error against the exact solution [f(x + (beta+1) t) + f(x + (beta-1) t)]/2, " \
           "beta = %.17g, t = %.9g:\n", beta, t
    printf "  %-28s  %-12.4e  %-12.4e\n", "|phi(dx) - exact|", l2("e1"), largest["e1"]
    printf "  %-28s  %-12.4e  %-12.4e\n", "|phi(dx/2) - exact|", l2("e2"), largest["e2"]
    printf "  %-28s  %-12.4e  %-12.4e\n", "|phi(dx/4) - exact|", l2("e4"), largest["e4"]
    printf "error ratios: %s and %s (L2), %s and %s (max); 4 for a second-order scheme\n",
           ratio(l2("e1"), l2("e2")), ratio(l2("e2"), l2("e4")),
           ratio(largest["e1"], largest["e2"]), ratio(largest["e2"], largest["e4"])
}
