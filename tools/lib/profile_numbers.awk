# Reading the numbers of wave1d's profile files.
#
# A field is "d.ddddE+XX" in the usual case, but an exponent of three digits drops the letter
# ("1.50000000+157"), and a value that is not finite is written as "Infinity" or "-Infinity"
# ("NaN" only in the console table). Plain awk would read "1.5+157" as 1.5 and, depending on
# the awk, "Infinity" as 0 or as inf, so every field goes through these functions.

# 1 when the field is a finite number in one of the written forms, 0 otherwise.
function is_finite_field(s) {
    return s ~ /^[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([EeDd]?[-+][0-9]+|[EeDd][0-9]+)?$/
}

# The field in a form that awk and gnuplot both read as the same number; "NaN" (which gnuplot
# treats as a missing value) for a field that is not a finite number.
function field_text(s,    mantissa, exponent) {
    if (!is_finite_field(s)) return "NaN"
    if (s ~ /[0-9.][-+][0-9]+$/) {
        # Exponent without its letter: split before the last sign.
        match(s, /[-+][0-9]+$/)
        mantissa = substr(s, 1, RSTART - 1)
        exponent = substr(s, RSTART)
        return mantissa "e" exponent
    }
    gsub(/[Dd]/, "e", s)
    return s
}

# The numeric value of a finite field (call is_finite_field first).
function field_value(s) {
    return field_text(s) + 0
}
