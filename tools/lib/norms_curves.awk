# The curves of norms.tsv for tools/plot, read after phi.xl of the same run (the files given in
# that order).
#
# norms.tsv holds one row per output time of phi.xl; the rows of the output times in both files
# are drawn. A file whose header, columns or times do not match is stale or broken: exit
# status 3 and the reason on standard error. Needs profile_numbers.awk and norms_numbers.awk.
#
# Prints "time v1 ... v7" per row, "?" where a value cannot be drawn: not finite, or not above
# zero on the logarithmic scale, which is chosen when the positive finite values span more than
# two decades. Writes the gnuplot settings to settings_file: norms_log (0 or 1), norms_points
# (1 to mark each row, when there are at most 100) and norms_note, what the image leaves out
# (empty when nothing), and norms_range, a command that sets the range of time to that of all
# rows (empty when they have one time).

BEGIN {
    outputs = rows = 0
    # Above this ratio of the largest to the smallest positive value the scale is logarithmic.
    decades = 100
}


# True when the time of phi.xl (seven significant digits) is that of norms.tsv.
function same_time(written, exact) {
    return abs(written - exact) <= 1e-6 * (abs(exact) > abs(written) ? abs(exact) : abs(written))
}

FNR == 1 { file++ }

file == 1 {
    if ($1 == "#Time" && $2 == "=") {
        finite[outputs] = is_finite_field($3)
        times[outputs] = finite[outputs] ? field_value($3) : $3
        written[outputs] = $3
        outputs++
    }
    next
}

# The rows are split at tabs from the second line on.
FNR == 1 {
    if ($0 != norms_header()) fail(FILENAME ": its first line is not the header of a norms file")
    FS = "\t"
    next
}

{
    if (NF != 8) fail(sprintf("%s, line %d: %d columns, not 8", FILENAME, FNR, NF))
    # While a run goes on, either file can be a little ahead: the rows they share are drawn.
    if (rows >= outputs) next
    row = rows++
    if (is_norm_number($1) != finite[row] || is_norm_number($1) && !same_time(times[row], $1 + 0))
        fail(sprintf("%s, line %d: time %s, where phi.xl has %s: it is not of this run",
                     FILENAME, FNR, $1, written[row]))
    # The time axis spans every row, those whose norms are not finite too.
    if (is_norm_number($1)) {
        if (earliest == "" || $1 + 0 < earliest) earliest = $1 + 0
        if (latest == "" || $1 + 0 > latest) latest = $1 + 0
    }
    for (c = 1; c <= 8; c++) {
        value[row, c] = $c
        if (!is_norm_field($c))
            fail(sprintf("%s, line %d: \"%s\" is not a number", FILENAME, FNR, $c))
        if (c == 1) continue
        if (!is_norm_number($c)) {
            if (first_not_finite == "")
                first_not_finite = is_norm_number($1) ? sprintf("%.9g", $1) : $1
            continue
        }
        v = $c + 0
        if (v > 0 && (low == "" || v < low)) low = v
        if (v > 0 && v > high) high = v
        if (v <= 0) zeros = 1
    }
}

END {
    if (failed) exit 3
    if (rows == 0) fail(FILENAME " holds no row of norms")
    if (low == "" && !zeros) fail(FILENAME " holds no finite norm")
    log_scale = low != "" && high / low > decades
    for (row = 0; row < rows; row++) {
        line = is_norm_number(value[row, 1]) ? value[row, 1] : "?"
        for (c = 2; c <= 8; c++) {
            v = value[row, c]
            line = line " " (is_norm_number(v) && (!log_scale || v + 0 > 0) ? v : "?")
        }
        print line
    }
    note = ""
    if (log_scale && zeros) note = "zeros left out"
    if (first_not_finite != "")
        note = note (note == "" ? "" : "; ") "values not finite from time " first_not_finite " left out"
    range = latest > earliest ? sprintf("set xrange [%.17g:%.17g]", earliest, latest) : ""
    print "norms_log = " log_scale "; norms_points = " (rows <= 100) "; norms_note = '" note \
        "'; norms_range = '" range "'" > settings_file
}
