#!/usr/bin/env bash
# tools/plot on the output of real runs: both images are PNG files of 1000 x 700 pixels.
source "$(dirname "$0")/test_lib.sh"
command -v gnuplot >/dev/null 2>&1 || { echo "gnuplot is not installed"; exit "$skip_status"; }

readonly small=(-5 5 40 0.5 40 2 1 1 0 10 0 0)

plots_made() {
    is_png_of_size "$1/phi-profiles.png" 1000 700 && is_png_of_size "$1/phi-spacetime.png" 1000 700
}

run_in "$scratch/pulse" "${small[@]}"
check "plot of a small run, folder given" "$tools/plot" "$scratch/pulse"
check "both images have the expected size" plots_made "$scratch/pulse"

run_in "$scratch/here" "${small[@]}"
check "plot in the current folder when none is given" \
    bash -c 'cd "$1" && "$2"' _ "$scratch/here" "$tools/plot"
check "images written in the current folder" plots_made "$scratch/here"

run_in "$scratch/a folder with blanks" "${small[@]}"
check "plot of a folder whose name has blanks" "$tools/plot" "$scratch/a folder with blanks"
check "its images" plots_made "$scratch/a folder with blanks"

# One output time after zero: the heat map has the row of time zero and one more.
run_in "$scratch/one" -5 5 40 0.5 40 1 1 1 0 40 0 0
check "plot of a run with a single output time after zero" "$tools/plot" "$scratch/one"
check "its images" plots_made "$scratch/one"

# A run that blows up writes exponents of three digits without the letter E, and infinities.
run_in "$scratch/unstable" -10 10 40 2.6 400 1 1 1 0 20 0 0
check "the unstable run reaches values written with three-digit exponents" \
    grep -q '[0-9]+[0-9][0-9][0-9]$' "$scratch/unstable/phi.xl"
check "plot of a run that blew up" "$tools/plot" "$scratch/unstable"
check "its images" plots_made "$scratch/unstable"

finish
