# Sourced by the scripts of tests/stored_outputs/: how one stored run is made.
#
# stored_run INPUT DIR COMMAND...
# Runs COMMAND (the program, or an emulator and the program) in the empty folder DIR, with the
# arguments listed in NAME.args beside INPUT=NAME.in, one a line, if there is such a file, and
# INPUT as standard input. Standard output goes to DIR/out and standard error to DIR/err, beside
# the files the program writes. Returns the program's exit status.
stored_run() {
    local input=$1 dir=$2
    shift 2
    local arguments=()
    if [ -f "${input%.in}.args" ]; then
        mapfile -t arguments < "${input%.in}.args"
    fi
    (cd "$dir" && "$@" "${arguments[@]}" < "$input" > out 2> err)
}
