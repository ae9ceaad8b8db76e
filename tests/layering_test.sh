#!/usr/bin/env bash
# Includes between the source folders go one way only: run -> sweep -> evolution, and run ->
# output; evolution and output -> grid -> common. Prints every include that goes against that direction and fails if there is one.
set -u
src="$1"
status=0
check() {  # folder, then the folders it must not include from
    local folder=$1
    shift
    for above in "$@"; do
        if grep -rn "#include \"$above/" "$src/$folder"; then status=1; fi
    done
}
check common run sweep evolution output grid
check grid run sweep evolution output
check sweep run output
check evolution run sweep output
check output run sweep evolution
exit $status
