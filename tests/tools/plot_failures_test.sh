#!/usr/bin/env bash
# tools/plot refuses, with a non-zero exit status and a message naming the cause, to draw from
# missing or empty files, without gnuplot or when gnuplot fails, and then leaves no image
# behind. Its help. None of this needs gnuplot.
source "$(dirname "$0")/test_lib.sh"

check "tools/plot -h prints its help" shows_help plot -h
check "tools/plot --help prints its help" shows_help plot --help

# Runs tools/plot on DIR (with PATH set to $plot_path when given); true when it fails, names
# $expected in its message, and writes no image.
refuses() {
    local dir=$1 expected=$2 message status=0
    message=$(PATH=${plot_path:-$PATH} "$tools/plot" "$dir" 2>&1) || status=$?
    echo "  exit status $status: $message"
    [ "$status" -ne 0 ] && contains "$message" "$expected" &&
        [ ! -e "$dir/phi-profiles.png" ] && [ ! -e "$dir/phi-spacetime.png" ] &&
        [ ! -e "$dir/phi-animation.gif" ]
}

mkdir "$scratch/nothing"
check "no phi.xl" refuses "$scratch/nothing" "phi.xl does not exist"
check "no such folder" refuses "$scratch/missing" "is not a folder"

run_in "$scratch/no_xtl" -5 5 40 0.5 40 2 1 1 0 10 0 0
rm "$scratch/no_xtl/phi.xtl"
check "no phi.xtl" refuses "$scratch/no_xtl" "phi.xtl does not exist"

run_in "$scratch/empty_xl" -5 5 40 0.5 40 2 1 1 0 10 0 0
: >"$scratch/empty_xl/phi.xl"
check "empty phi.xl" refuses "$scratch/empty_xl" "phi.xl is empty"

# No output step after time zero leaves phi.xtl empty.
run_in "$scratch/no_steps" -5 5 40 0.5 0 2 1 1 0 10 0 0
check "empty phi.xtl after a run with nt = 0" refuses "$scratch/no_steps" "phi.xtl is empty"

# A grid with no points: both files have blocks but no sampled point.
run_in "$scratch/no_points" -5 5 -4 0.5 4 2 1 1 0 1 0 0
check "profiles without a sampled point" refuses "$scratch/no_points" "no sampled point"

# Every tool the script needs, except gnuplot.
mkdir "$scratch/bin"
for name in bash awk cat dirname grep mkdir mktemp mv readlink rm sed od tr; do
    ln -s "$(command -v "$name")" "$scratch/bin/$name"
done
run_in "$scratch/no_gnuplot" -5 5 40 0.5 40 2 1 1 0 10 0 0
plot_path=$scratch/bin check "gnuplot missing" refuses "$scratch/no_gnuplot" \
    "gnuplot is not installed"

# A gnuplot that writes the first image and then fails: its message is passed on, and the
# run's folder gets none of the images.
cat >"$scratch/bin/gnuplot" <<'SCRIPT'
#!/usr/bin/env bash
for argument in "$@"; do
    [[ $argument != profiles_png=* ]] || eval "$argument"
done
: >"$profiles_png"
echo "the stand-in gnuplot fails" >&2
exit 1
SCRIPT
chmod +x "$scratch/bin/gnuplot"
plot_path=$scratch/bin check "gnuplot fails" refuses "$scratch/no_gnuplot" \
    "gnuplot failed: the stand-in gnuplot fails"

finish
