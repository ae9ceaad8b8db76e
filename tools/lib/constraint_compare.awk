# Compares the constraint norms of norms.tsv from three runs whose grid spacings are dx, dx/2
# and dx/4 (the files given in that order, with the same output times). The constraint
#     C(i) = psi(i) - (phi(i+1) - phi(i-1)) / (2 dx)
# starts at a size of order dx^2 and the interior update keeps it, so halving dx divides its
# norms by 4.
#
# Prints l2_constraint and max_abs_constraint of each run at the last output time, the factors
# C(dx) / C(dx/2) and C(dx/2) / C(dx/4) there, and the least and the largest of these factors
# in l2_constraint over every output time where they are defined.
#
# Exits with status 3 and a message on standard error when a file is not a norms file, or the
# runs differ in their number of rows or their times. Needs norms_numbers.awk.

BEGIN {
    FS = "\t"
}


# a / b with four decimals, or why there is none.
function ratio(a, b) {
    if (!is_norm_number(a) || !is_norm_number(b)) return "undefined (not finite)"
    return b + 0 > 0 ? sprintf("%.4f", a / b) : "undefined (zero constraint)"
}

function norm(s) { return is_norm_number(s) ? sprintf("%-12.4e", s) : sprintf("%-12s", s) }

FNR == 1 {
    run++
    if ($0 != norms_header()) fail(FILENAME ": its first line is not the header of a norms file")
    next
}

{
    if (NF != 8) fail(sprintf("%s, line %d: %d columns, not 8", FILENAME, FNR, NF))
    n = rows[run]++
    time[run, n] = $1
    l2[run, n] = $7
    largest[run, n] = $8
}

END {
    if (failed) exit 3
    if (run != 3) fail("expected three norms files, got " run)
    if (rows[1] == 0 || rows[2] != rows[1] || rows[3] != rows[1])
        fail(sprintf("the runs wrote %d, %d and %d rows of norms, not the same number",
                     rows[1], rows[2], rows[3]))
    for (n = 0; n < rows[1]; n++) {
        t = time[1, n]
        for (r = 2; r <= 3; r++)
            if (time[r, n] != t && !(is_norm_number(t) && abs(time[r, n] - t) <= 1e-6 * abs(t)))
                fail(sprintf("the runs' output times differ: %s and %s", t, time[r, n]))
        # The factors in l2_constraint at every output time where both are defined.
        for (r = 1; r <= 2; r++) {
            a = l2[r, n]; b = l2[r + 1, n]
            if (!is_norm_number(a) || !is_norm_number(b) || b + 0 <= 0) continue
            q = a / b
            if (factors == 0 || q < least) least = q
            if (factors == 0 || q > most) most = q
            factors++
        }
    }
    last = rows[1] - 1
    t = time[1, last]
    printf "constraint psi - (phi(x+dx) - phi(x-dx))/(2 dx), from norms.tsv at t = %s:\n",
           is_norm_number(t) ? sprintf("%.9g", t) : t
    printf "  %-28s  %-12s  %-12s\n", "", "L2", "max"
    printf "  %-28s  %s  %s\n", "|C(dx)|", norm(l2[1, last]), norm(largest[1, last])
    printf "  %-28s  %s  %s\n", "|C(dx/2)|", norm(l2[2, last]), norm(largest[2, last])
    printf "  %-28s  %s  %s\n", "|C(dx/4)|", norm(l2[3, last]), norm(largest[3, last])
    printf "constraint convergence factor: %s and %s (L2), %s and %s (max); 4 for a second-order scheme\n",
           ratio(l2[1, last], l2[2, last]), ratio(l2[2, last], l2[3, last]),
           ratio(largest[1, last], largest[2, last]), ratio(largest[2, last], largest[3, last])
    if (factors > 0)
        printf "  over the %d output times: from %.4f to %.4f (L2)\n", rows[1], least, most
}
