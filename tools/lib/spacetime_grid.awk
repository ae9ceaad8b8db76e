# phi.xl and phi.xtl to gnuplot data for the heat map: a regular grid of "x time phi", one row
# per output time, rows parted by an empty line. phi.xtl writes an extra empty line after every
# point whose phi has its own value, so its empty lines are dropped and a row ends where the
# time changes. phi.xtl starts after time zero; the row of time zero is the first block of
# phi.xl. The largest finite magnitude of phi is written to the file named by the variable
# largest_file, for a colour range centred on zero. Needs profile_numbers.awk.

function note(s,    v) {
    if (!is_finite_field(s)) return
    v = field_value(s)
    if (v < 0) v = -v
    if (v > largest) largest = v
}

FNR == 1 { file++ }
file == 1 && /^#Time = / { blocks++; next }
file == 1 && blocks == 1 && NF == 2 {
    if (rows == 0) rows = 1
    print field_text($1), 0, field_text($2)
    note($2)
}
file == 2 && NF == 3 {
    if (rows == 0 || $1 != row_time) {
        if (rows > 0) print ""
        row_time = $1
        rows++
    }
    print field_text($2), field_text($1), field_text($3)
    note($3)
}
END { printf "%.17g\n", largest + 0 > largest_file }
