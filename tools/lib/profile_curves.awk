# phi.xl to gnuplot data for the profile plot: "x phi time" for every sampled point, one block
# per output time, blocks parted by an empty line so that each becomes a curve of its own.
# Needs profile_numbers.awk. Exits with status 3 when the file holds no sampled point.

/^#Time = / {
    time = field_text($3)
    if (blocks++) print ""
    next
}
NF == 2 {
    print field_text($1), field_text($2), time
    points++
}
END { if (points == 0) exit 3 }
