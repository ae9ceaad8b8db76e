# The twelve values of a wave1d input file, one a line, found as the program finds them: blank
# lines and leading blanks are skipped, and a value ends at a blank, a comma, a slash or the end
# of the line (the rest of the line is ignored). Prints one value a line; exits with status 3
# when a line begins with a comma or a slash, or there are fewer than twelve values.

{ sub(/\r$/, "") }
/^[ \t]*$/ { next }
count < 12 {
    item = $0
    sub(/^[ \t]+/, "", item)
    if (item ~ /^[,\/]/) {
        printf "line %d begins with \"%s\" instead of a value\n", FNR, substr(item, 1, 1) > "/dev/stderr"
        failed = 1
        exit 3
    }
    sub(/[ \t,\/].*$/, "", item)
    print item
    count++
}
END {
    if (failed) exit 3
    if (count < 12) { printf "only %d of the twelve values\n", count > "/dev/stderr"; exit 3 }
}
