#!/usr/bin/env bash
# tools/convergence on small cases: the factor of this second-order scheme comes out near 4,
# the error against the exact solution falls by 4 per halving of dx, the three runs get
# scaled inputs, the constraint's norms fall by 4 too, and unusable inputs are refused with a
# message. Its help.
source "$(dirname "$0")/test_lib.sh"

check "tools/convergence -h prints its help" shows_help convergence -h
check "tools/convergence --help prints its help, after an option too" \
    shows_help convergence -w "$wave1d" --help

# True when every number given lies within 10% of 4.
near_four() {
    [ $# -gt 0 ] && awk 'BEGIN { for (i = 1; i < ARGC; i++) if (!(ARGV[i] > 3.6 && ARGV[i] < 4.4)) exit 1 }' "$@"
}

# The numbers of the line of $report that begins with $1 (the text before the colon dropped).
numbers_of() {
    grep "^$1" <<<"$report" | sed 's/^[^:]*://' | grep -oE '[0-9]+\.[0-9]+' || true
}

# A pulse that stays inside the domain, with the input forms the program accepts: blank
# lines, text after a value, a D exponent, a negative every_1D.
cat >"$scratch/shifted.in" <<'INPUT'
-10, the left end

10
200 intervals
0.5
80
2
1
1.0d0
0
-40
0
1
INPUT
report=$(WAVE1D=$wave1d "$tools/convergence" -k "$scratch/kept" "$scratch/shifted.in") ||
    echo "  tools/convergence failed"
echo "$report"
# shellcheck disable=SC2046
check "self-convergence factor near 4" near_four $(numbers_of "self-convergence factor")
# shellcheck disable=SC2046
check "error ratios against the exact solution near 4" near_four $(numbers_of "error ratios")
check "the exact solution uses the shift 0.5" contains "$report" "beta = 0.5, t = 4:"
# shellcheck disable=SC2046
check "constraint factors near 4, at the last time and at every output time" \
    near_four $(numbers_of "constraint convergence factor") $(numbers_of "  over the 3 output times")
check "finest run: nx, nt and every_1D times 4, the rest as read" \
    test "$(tr '\n' ' ' <"$scratch/kept/dx4/input")" = "-10 10 800 0.5 320 2 1 1.0d0 0 -160 0 1 "
check "the kept runs hold their profiles and norms" \
    test -s "$scratch/kept/dx2/phi.xl" -a -s "$scratch/kept/dx2/norms.tsv"

# Far from the pulse the exact solution is below the smallest double: no word of it.
printf '%s\n' -30 30 300 0.5 80 2 1 1 0 40 0 1 >"$scratch/wide.in"
errors=$("$tools/convergence" -w "$wave1d" "$scratch/wide.in" 2>&1 >/dev/null) ||
    echo "  tools/convergence failed"
check "an exact solution that underflows far from the pulse: nothing on standard error" \
    test -z "$errors"

# The tanh lapse (line 12 holds lapsetype, line 13 shifttype): self-convergence only.
cp "$scratch/shifted.in" "$scratch/lapse.in"
sed -i '12s/.*/1/; 13s/.*/0/' "$scratch/lapse.in"
report=$("$tools/convergence" -w "$wave1d" "$scratch/lapse.in") || echo "  tools/convergence failed"
# shellcheck disable=SC2046
check "tanh lapse: factor near 4" near_four $(numbers_of "self-convergence factor")
check "tanh lapse: no exact solution" contains "$report" "no exact solution: the lapse is not 1"

# A periodic grid repeats every nx - 2 intervals; the finer runs keep that period. The halves
# have wrapped round and lie apart, so the factor is the second-order 4.
printf '%s\n' -5.05 5.05 202 0.5 300 1 1 1 0 100 0 0 >"$scratch/periodic.in"
report=$("$tools/convergence" -w "$wave1d" -k "$scratch/periodic" "$scratch/periodic.in") ||
    echo "  tools/convergence failed"
# shellcheck disable=SC2046
check "periodic: factor near 4" near_four $(numbers_of "self-convergence factor")
# shellcheck disable=SC2046
check "periodic: constraint factor near 4" near_four $(numbers_of "constraint convergence factor")
check "periodic: finest grid of 4 * 200 + 2 intervals up to 4.975" \
    test "$(sed -n '3p;2p' "$scratch/periodic/dx4/input" | tr '\n' ' ')" = "4.975 802 "

# Refusals: non-zero exit status and the reason on standard error.
refuses() {
    local expected=$1 message status=0
    shift
    message=$("$tools/convergence" -w "$wave1d" "$@" 2>&1 >/dev/null) || status=$?
    echo "  exit status $status: $message"
    [ "$status" -ne 0 ] && contains "$message" "$expected"
}
printf '%s\n' -10 10 200 0.5 80 2 1 1 0 0 0 0 >"$scratch/every_0.in"
check "every_1D of 0" refuses "every_1D = 0" "$scratch/every_0.in"
printf '%s\n' -10 10 200 0.5 80 2 1 1 0 >"$scratch/short.in"
check "fewer than twelve values" refuses "only 9 of the twelve values" "$scratch/short.in"
printf '%s\n' -10 10 200.0 0.5 80 2 1 1 0 40 0 0 >"$scratch/real_nx.in"
check "a real nx" refuses 'nx is "200.0", not an integer' "$scratch/real_nx.in"
check "no program" refuses "no wave1d program" -w "$scratch/none" "$scratch/shifted.in"
check "an unknown long option" refuses "unknown option --version" --version "$scratch/shifted.in"

# A run that blew up: its profiles hold zeros where phi is NaN, but its table tells.
check "the unstable example: NaN in the table" refuses "its table shows NaN at time 4.18E+02" \
    "$tools/../examples/unstable_courant.in"

# The program's warnings, from a stand-in that runs wave1d and then warns as $WARNING says:
# phi not finite refuses even where the table is clean; any other warning is passed on.
cat >"$scratch/warning_wave1d" <<SCRIPT
#!/usr/bin/env bash
"$wave1d" "\$@" && echo "wave1d: warning: \$WARNING" >&2
SCRIPT
chmod +x "$scratch/warning_wave1d"
export WARNING="phi is not finite at time 2.5; the profile files write NaN as zero"
check "a warning that phi is not finite" refuses "not finite, so its profiles cannot be compared" \
    -w "$scratch/warning_wave1d" "$scratch/shifted.in"
WARNING="the Courant factor 0.5 is above the largest stable one, 0.25"
errors=$("$tools/convergence" -w "$scratch/warning_wave1d" "$scratch/shifted.in" 2>&1 >/dev/null) ||
    echo "  tools/convergence failed"
check "another warning is passed on once" test "$errors" = \
    "tools/convergence: wave1d warns: the Courant factor 0.5 is above the largest stable one, 0.25"

finish
