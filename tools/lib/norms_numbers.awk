# Reading norms.tsv, the norms that wave1d --norms writes beside the profiles: a header line
# naming the eight tab-separated columns, then one row per output time of numbers as strtod
# reads them (the shortest decimal of each double), or "inf", "-inf", "nan".

function norms_header() {
    return "# time\tmax_abs_phi\tl2_phi\tl2_psi\tl2_pi\tenergy\tl2_constraint\tmax_abs_constraint"
}

# 1 when the field is a finite decimal number; "inf", "-inf" and "nan" are not.
function is_norm_number(s) {
    return s ~ /^[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?$/
}

# 1 when the field is one of the values that norms.tsv holds.
function is_norm_field(s) {
    return is_norm_number(s) || s == "inf" || s == "-inf" || s == "nan"
}

# Ends the program with status 3 and the message on standard error; its END rule checks failed.
function fail(message) {
    print message > "/dev/stderr"
    failed = 1
    exit 3
}

function abs(v) { return v < 0 ? -v : v }
