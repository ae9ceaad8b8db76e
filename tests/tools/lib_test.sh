#!/usr/bin/env bash
# The awk programs behind tools/plot and tools/convergence, on small hand-made files: the
# number forms of the profile files, the curves and the regular grid rebuilt from phi.xtl, and
# the twelve values of an input file.
source "$(dirname "$0")/test_lib.sh"
readonly lib=$tools/lib

# Each field, and the text and the value the helpers give it (- for no value).
fields_read_right() {
    local ok=0 field text value got
    cat >"$scratch/read_field.awk" <<'PROGRAM'
BEGIN { print field_text(s), is_finite_field(s) ? sprintf("%.9g", field_value(s)) : "-" }
PROGRAM
    while read -r field text value; do
        got=$(awk -f "$lib/profile_numbers.awk" -f "$scratch/read_field.awk" -v s="$field")
        [ "$got" = "$text $value" ] || { echo "  $field: got \"$got\", want \"$text $value\""; ok=1; }
    done <<'TABLE'
-2.50000000E-03 -2.50000000E-03 -0.0025
1.50000000+157 1.50000000e+157 1.5e+157
9.99999999-101 9.99999999e-101 9.99999999e-101
1.0d-2 1.0e-2 0.01
.5 .5 0.5
Infinity NaN -
-Infinity NaN -
NaN NaN -
******** NaN -
TABLE
    return "$ok"
}
check "number forms of the profile files" fields_read_right

# The example of an output step at time 0.5 on a grid of nx = 8: phi is 1e-60 (written as
# zero, no extra empty line), 0.75 and -0.0025 (each followed by an extra empty line).
cat >"$scratch/phi.xl" <<'DATA'
#Time =   0.000000E+00
 -1.00000000E+00  1.00000000E+00
  0.00000000E+00        Infinity
  1.00000000E+00  1.50000000+157


#Time =   5.000000E-01
 -1.00000000E+00  0.00000000E+00
  0.00000000E+00  7.50000000E-01
  1.00000000E+00 -2.50000000E-03


DATA
cat >"$scratch/phi.xtl" <<'DATA'
  5.00000000E-01 -1.00000000E+00  0.00000000E+00
  5.00000000E-01  0.00000000E+00  7.50000000E-01

  5.00000000E-01  1.00000000E+00 -2.50000000E-03



  1.00000000E+00 -1.00000000E+00  2.00000000E-01

  1.00000000E+00  0.00000000E+00 -3.00000000E+00

  1.00000000E+00  1.00000000E+00  0.00000000E+00


DATA

curves=$(awk -f "$lib/profile_numbers.awk" -f "$lib/profile_curves.awk" "$scratch/phi.xl")
check "one curve of x, phi, time per block of phi.xl" test "$curves" = "$(cat <<'WANT'
-1.00000000E+00 1.00000000E+00 0.000000E+00
0.00000000E+00 NaN 0.000000E+00
1.00000000E+00 1.50000000e+157 0.000000E+00

-1.00000000E+00 0.00000000E+00 5.000000E-01
0.00000000E+00 7.50000000E-01 5.000000E-01
1.00000000E+00 -2.50000000E-03 5.000000E-01
WANT
)"

grid=$(awk -f "$lib/profile_numbers.awk" -f "$lib/spacetime_grid.awk" \
    -v largest_file="$scratch/largest" "$scratch/phi.xl" "$scratch/phi.xtl")
check "a regular grid: time zero from phi.xl, one row per time of phi.xtl" test "$grid" = "$(cat <<'WANT'
-1.00000000E+00 0 1.00000000E+00
0.00000000E+00 0 NaN
1.00000000E+00 0 1.50000000e+157

-1.00000000E+00 5.00000000E-01 0.00000000E+00
0.00000000E+00 5.00000000E-01 7.50000000E-01
1.00000000E+00 5.00000000E-01 -2.50000000E-03

-1.00000000E+00 1.00000000E+00 2.00000000E-01
0.00000000E+00 1.00000000E+00 -3.00000000E+00
1.00000000E+00 1.00000000E+00 0.00000000E+00
WANT
)"
check "the largest finite magnitude of phi" test "$(cat "$scratch/largest")" = "1.5000000000000001e+157"

: >"$scratch/empty.xl"
printf '#Time =   0.000000E+00\n\n\n' >"$scratch/no_points.xl"
status=0
awk -f "$lib/profile_numbers.awk" -f "$lib/profile_curves.awk" "$scratch/no_points.xl" \
    >/dev/null || status=$?
check "no sampled point is reported" test "$status" -eq 3

# The norms image's curves from two rows of norms.tsv, at the times of phi.xl above: the scale
# (logarithmic above two decades, where a zero is left out) and the values not drawn ("?").
# Each case: the seven norms of time zero, of time 0.5, then the settings and the curves.
norms_curves_are() {
    local ok=0 first second settings want got
    while read -r first && read -r second && read -r settings && read -r want; do
        { printf '# time\tmax_abs_phi\tl2_phi\tl2_psi\tl2_pi\tenergy\tl2_constraint\tmax_abs_constraint\n'
          printf '0\t%s\n0.5\t%s\n' "${first// /$'\t'}" "${second// /$'\t'}"; } >"$scratch/norms.tsv"
        got=$(awk -f "$lib/profile_numbers.awk" -f "$lib/norms_numbers.awk" \
            -f "$lib/norms_curves.awk" -v settings_file="$scratch/norms.gp" \
            "$scratch/phi.xl" "$scratch/norms.tsv" |
            tr '\n' '|')
        got="$(cat "$scratch/norms.gp") $got"
        [ "$got" = "$settings $want" ] || { echo "  got  $got"$'\n'"  want $settings $want"; ok=1; }
    done <<'TABLE'
1 1 1 1 0.5 1e-3 0
2 1 1 1 0.5 2e-3 1e-3
norms_log = 1; norms_points = 1; norms_note = 'zeros left out'; norms_range = 'set xrange [0:0.5]'
0 1 1 1 1 0.5 1e-3 ?|0.5 2 1 1 1 0.5 2e-3 1e-3|
1 1 1 1 0.5 0.1 0
2 1 1 1 0.5 0.2 0.1
norms_log = 0; norms_points = 1; norms_note = ''; norms_range = 'set xrange [0:0.5]'
0 1 1 1 1 0.5 0.1 0|0.5 2 1 1 1 0.5 0.2 0.1|
1 1 1 1 0.5 1e-3 1e-3
inf nan nan nan nan nan nan
norms_log = 1; norms_points = 1; norms_note = 'values not finite from time 0.5 left out'; norms_range = 'set xrange [0:0.5]'
0 1 1 1 1 0.5 1e-3 1e-3|0.5 ? ? ? ? ? ? ?|
TABLE
    return "$ok"
}
check "norms drawn on the right scale, and what cannot be drawn left out" norms_curves_are

# The frames of the animation: three of seven output times are the first, the middle and the
# last, each in a file of its own.
for k in 0 1 2 3 4 5 6; do
    printf '#Time =   %d.000000E+00\n  0.00000000E+00  %d.00000000+100\n\n\n' "$k" "$k"
done >"$scratch/seven.xl"
mkdir "$scratch/frames"
frames=$(awk -f "$lib/profile_numbers.awk" -f "$lib/animation_frames.awk" -v outputs=7 \
    -v frames=3 -v frame_dir="$scratch/frames" "$scratch/seven.xl" | tr '\n' ' ')
check "frames of outputs 1, 4 and 7: time and place of each" \
    test "$frames" = "0.000000E+00 1 3.000000E+00 4 6.000000E+00 7 "
check "each frame holds the x and phi of its output time" \
    test "$(cat "$scratch/frames/frame1.dat")" = "0.00000000E+00 3.00000000e+100"
check "no more frames than asked for" test ! -e "$scratch/frames/frame3.dat"

# The values as the program finds them: blank lines and leading blanks skipped, a value cut
# at a blank, a comma or a slash, the rest of the line dropped, CR LF line ends.
printf '\n  -10, left\r\n10/right\n\n400 intervals\n0.5\n800\n2\n1\n1.0d0\n0\n40\n0\n0\n' \
    >"$scratch/forms.in"
items=$(awk -f "$lib/input_items.awk" "$scratch/forms.in" | tr '\n' ' ')
check "the twelve values of an input with comments" \
    test "$items" = "-10 10 400 0.5 800 2 1 1.0d0 0 40 0 0 "
status=0
printf '1\n,2\n' | awk -f "$lib/input_items.awk" >/dev/null 2>&1 || status=$?
check "a line that begins with a comma is refused" test "$status" -eq 3

finish
