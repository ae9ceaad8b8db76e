# Shared by the tool tests: checks, a scratch folder, and runs of the built program.
# A test script sources this file with the path of the built wave1d as its first argument.
set -euo pipefail

wave1d=${1:?the path of the built wave1d}
[[ $wave1d == /* ]] || wave1d=$PWD/$wave1d
readonly wave1d
tools=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools" && pwd)
readonly tools
scratch=$(mktemp -d "${TMPDIR:-/tmp}/wave1d-tool-test.XXXXXX")
readonly scratch
trap 'rm -rf "$scratch"' EXIT
failures=0

# Exit status that CTest reports as a skipped test.
readonly skip_status=77
# The optional tools not found, each with the checks left out for want of it.
not_found=()

check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}

# True when the optional tool $1 is on the PATH. Otherwise the checks that need it, named by
# $2, are left out, and finish reports the test as skipped, with the reason.
have() {
    command -v "$1" >/dev/null 2>&1 && return 0
    echo "left out, $1 is not installed: $2"
    not_found+=("$1 ($2)")
    return 1
}

# Ends the test: failed when a check failed, else skipped when an optional tool was missing.
finish() {
    [ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
    if [ "${#not_found[@]}" -gt 0 ]; then
        echo "skipped: not installed: $(printf '%s; ' "${not_found[@]}" | sed 's/; $//')"
        exit "$skip_status"
    fi
}

# True when the tool $1, run with the options after it, prints its help on standard output
# alone, beginning with the line that says what it does and giving its synopsis, and exits 0.
shows_help() {
    local tool=$1 out errors status=0
    shift
    out=$("$tools/$tool" "$@" 2>"$scratch/help_errors") || status=$?
    errors=$(cat "$scratch/help_errors")
    echo "  exit status $status: ${out%%$'\n'*}${errors:+ (standard error: $errors)}"
    [ "$status" -eq 0 ] && [ -z "$errors" ] && [[ $out == [A-Z]*$'\n\n'"  tools/$tool "* ]]
}

# Runs wave1d in a new folder DIR, with the options (--name) and then the twelve values given
# after it.
run_in() {
    local dir=$1 options=()
    shift
    while [[ ${1:-} == --* ]]; do
        options+=("$1")
        shift
    done
    mkdir -p "$dir"
    printf '%s\n' "$@" >"$dir/input"
    (cd "$dir" && "$wave1d" "${options[@]}" <input >console.txt)
}

# True when FILE is a PNG image of WIDTH x HEIGHT pixels: the eight-byte signature, then the
# IHDR chunk with the width and height as big-endian 32-bit numbers.
is_png_of_size() {
    local file=$1 width=$2 height=$3 bytes
    [ -f "$file" ] || return 1
    bytes=$(od -An -v -tx1 -N24 "$file" | tr -d ' \n')
    [ "${bytes:0:16}" = "89504e470d0a1a0a" ] || return 1
    [ "${bytes:24:8}" = "49484452" ] || return 1
    [ $((16#${bytes:32:8})) -eq "$width" ] && [ $((16#${bytes:40:8})) -eq "$height" ]
}

# True when the text $1 contains $2.
contains() { [[ $1 == *"$2"* ]]; }
