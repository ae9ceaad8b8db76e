#!/usr/bin/env bash
# tools/plot on the output of real runs: both images are PNG files of 1000 x 700 pixels, and
# the animation a looping GIF of 800 x 500 with one frame per output time, at most 200, that
# plays for 5 to 10 seconds. Skipped without gnuplot; the animations are read with python3.
source "$(dirname "$0")/test_lib.sh"
have gnuplot "every check: tools/plot draws with gnuplot" || finish
have python3 "the frames and delays of the animations" && read_gifs=1 || read_gifs=0

readonly small=(-5 5 40 0.5 40 2 1 1 0 10 0 0)

plots_made() {
    is_png_of_size "$1/phi-profiles.png" 1000 700 && is_png_of_size "$1/phi-spacetime.png" 1000 700 &&
        [ -s "$1/phi-animation.gif" ]
}

# True when the animation in folder $1 is 800 x 500, loops for ever and has $2 frames that
# each last $3 hundredths of a second.
animation_is() {
    local dir=$1 frames=$2 delay=$3 facts want
    facts=$(python3 "$(dirname "$0")/gif_facts.py" "$dir/phi-animation.gif") || return 1
    want="800x500 frames=$frames loop=0 delays=$(printf "$delay%.0s," $(seq "$frames"))"
    echo "  ${facts:0:60}"
    [ "$facts" = "${want%,}" ]
}
# A check of an animation, left out without python3.
check_animation() { [ "$read_gifs" -eq 0 ] || check "$@"; }

run_in "$scratch/pulse" "${small[@]}"
check "plot of a small run, folder given" "$tools/plot" "$scratch/pulse"
check "both images have the expected size" plots_made "$scratch/pulse"
check "no norms image without norms.tsv" test ! -e "$scratch/pulse/phi-norms.png"
check_animation "five output times, five frames of 1.5 s" animation_is "$scratch/pulse" 5 150

# More output times than frames: 200 of the 251, each shown for 0.04 s, and a word about it.
run_in "$scratch/many" -5 5 8 0.5 250 2 1 1 0 1 0 0
message=$("$tools/plot" "$scratch/many" 2>&1 >/dev/null) || echo "  tools/plot failed"
echo "  $message"
check "the animation is said to show 200 of the 251 output times" \
    contains "$message" "phi.xl holds 251 output times; the animation shows 200 of them"
check_animation "200 frames playing for 8 s" animation_is "$scratch/many" 200 4

run_in "$scratch/here" "${small[@]}"
check "plot in the current folder when none is given" \
    bash -c 'cd "$1" && "$2"' _ "$scratch/here" "$tools/plot"
check "images written in the current folder" plots_made "$scratch/here"

# The folder's name goes into the titles: quotes, blanks and gnuplot's markup characters.
readonly odd="$scratch/it's a \"run\"_1^{2}; 50% @&~\\x"
run_in "$odd" "${small[@]}"
check "plot of a folder whose name has quotes, blanks and markup" "$tools/plot" "$odd"
check "its images" plots_made "$odd"

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

# The norms image of runs with --norms: a stable one, one whose norms reach inf and nan, and
# one whose norms.tsv is a row behind phi.xl, as while the run goes on. A norms.tsv left by an
# earlier run in the folder is named in a warning and not drawn, and the other images are.
# Each case: its name and what tools/plot says, the run's values, then what is done after it.
norms_plotted() {
    local dir=$1 want=$2 message
    message=$("$tools/plot" "$dir" 2>&1 </dev/null) || return 1
    echo "  $message"
    plots_made "$dir" && contains "$message" "$want" && case $want in
        *"no phi-norms.png drawn") [ ! -e "$dir/phi-norms.png" ] ;;
        *) is_png_of_size "$dir/phi-norms.png" 1000 700 ;;
    esac
}
while read -r name want && read -r -a values && read -r after; do
    run_in "$scratch/norms_$name" --norms "${values[@]}"
    (cd "$scratch/norms_$name" && eval "$after")
    check "norms of the $name run: $want" norms_plotted "$scratch/norms_$name" "$want"
done <<'TABLE'
pulse phi-norms.png
-5 5 40 0.5 40 2 1 1 0 10 0 0
:
unstable phi-norms.png
-10 10 40 2.6 1322 1 1 1 0 661 0 0
:
running phi-norms.png
-5 5 40 0.5 40 2 1 1 0 10 0 0
sed -i '$d' norms.tsv
stale norms_stale/norms.tsv, line 3: time 2.5, where phi.xl has 1.250000E+00: it is not of this run; no phi-norms.png drawn
-5 5 40 0.5 40 2 1 1 0 20 0 0
printf '%s\n' -5 5 40 0.5 40 2 1 1 0 10 0 0 | "$wave1d" >/dev/null
TABLE

finish
