#!/usr/bin/env bash
# cmake --install into a scratch prefix; the installed program runs an installed example, and
# the installed commands work from the prefix alone: the package from the prefix's lib, and
# bin/wave1d as the program of the convergence study and the scan.
#   install_test.sh WAVE1D CMAKE BUILD_DIR [PYTHON]
# PYTHON (default python3) runs the installed Python commands: the one with numpy and
# matplotlib, which the first python3 on the PATH need not be.
set -euo pipefail
readonly cmake=$2 build=$3 python=${4:-python3}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/wave1d-install-test.XXXXXX")
readonly scratch prefix=$scratch/prefix
trap 'rm -rf "$scratch"' EXIT
failures=0

check() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
contains() { [[ $1 == *"$2"* ]]; }
installed() {
    local path
    for path in "$@"; do [ -f "$prefix/$path" ] || { echo "  missing: $path"; return 1; }; done
}

"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log"; exit 1; }

check "the program and the tools in bin" installed bin/wave1d bin/wave1d-plot \
    bin/wave1d-convergence bin/wave1d-view bin/wave1d-scan
# shellcheck disable=SC2016
check "the Python package in the prefix's lib" bash -c \
    'compgen -G "$1/lib/python3*/*-packages/wave1d/pictures.py"' _ "$prefix"
check "the README and the examples in share/doc/wave1d" \
    installed share/doc/wave1d/README.md share/doc/wave1d/examples/README.md \
    share/doc/wave1d/examples/outgoing_pulse.in share/doc/wave1d/docs/usage.md
check "the manual page in share/man/man1" installed share/man/man1/wave1d.1

# Beside an installed program, --help and the manual page name the installed examples.
examples=$(readlink -f "$prefix")/share/doc/wave1d/examples
check "wave1d --help names the installed examples" \
    contains "$("$prefix/bin/wave1d" --help)" "wave1d $examples/outgoing_pulse.in"
check "the manual page names them too" grep -q -- "${examples//-/\\\\-}/outgoing_pulse.in" \
    "$prefix/share/man/man1/wave1d.1"

mkdir "$scratch/run"
check "the installed program runs an installed example" bash -c 'cd "$1" &&
    "$2/bin/wave1d" --norms <"$2/share/doc/wave1d/examples/outgoing_pulse.in" >console.txt' _ \
    "$scratch/run" "$prefix"
# Run from elsewhere, so that the checkout's package is not the one found.
cd "$scratch"
if "$python" -c "import matplotlib" 2>/dev/null; then
    check "wave1d-plot draws its pictures" "$python" "$prefix/bin/wave1d-plot" "$scratch/run"
    check "the animation and the norms among them" \
        test -s "$scratch/run/phi-animation.gif" -a -s "$scratch/run/phi-norms.png"
fi
if [ -f /usr/share/javascript/dygraphs/dygraph.min.js ]; then
    check "wave1d-view writes its page" "$python" "$prefix/bin/wave1d-view" "$scratch/run"
fi

printf '%s\n' -10 10 40 0.5 16 2 1 1 0 8 0 0 >"$scratch/small.in"
if command -v parallel >/dev/null 2>&1; then
    check "wave1d-scan scans with the installed program by default" bash -c 'cd "$1" &&
        env -u WAVE1D "$2" "$3/bin/wave1d-scan" -o scan small.in nx=40,80 2>/dev/null &&
        test -s scan/nx=80/norms.tsv' _ "$scratch" "$python" "$prefix"
fi
report=$(env -u WAVE1D "$python" "$prefix/bin/wave1d-convergence" small.in) ||
    echo "  wave1d-convergence failed"
check "wave1d-convergence runs the installed program by default" \
    contains "$report" "with $(readlink -f "$prefix")/bin/wave1d"
check "and compares its runs" contains "$report" "self-convergence factor: "

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
