#!/usr/bin/env bash
# scripts/bench-figures.awk: the medians, spreads and movements scripts/bench.sh judges the goals
# by. Each case: what, key a, key b, the input lines, the output expected.
set -uo pipefail
awk_file=${1:-$(dirname "$0")/../../scripts/bench-figures.awk}

runs='1 lat.raw 10
2 lat.raw 14
3 lat.raw 12
1 lat.raw.cpu 99
2 lat.tool 30'
rounds='1 1 thr.tool 50
1 1 thr.raw 100
1 2 thr.tool 90
1 2 thr.raw 100
2 1 thr.tool 80
2 1 thr.raw 40
2 2 thr.tool 70
2 2 thr.raw 0
3 1 thr.tool 60
3 1 thr.raw.cpu 30'

failures=0
check() {
  local name=$1 what=$2 a=$3 b=$4 input=$5 expected=$6 got
  got=$(printf '%s\n' "$input" | awk -f "$awk_file" -v what="$what" -v a="$a" -v b="$b")
  if [ "$got" != "$expected" ]; then
    echo "FAIL $name: $what of '$a' '$b': expected '$expected', got '$got'"
    failures=$((failures + 1))
  fi
}

# The median of an odd count, and of an even one (the mean of the middle two); a key that
# starts another key's name is not that key.
check odd-runs runs lat.raw "" "$runs" "12.000000 10.000000 14.000000 3"
check even-runs runs lat.raw "" "$runs
4 lat.raw 20" "13.000000 10.000000 20.000000 4"
check one-run runs lat.tool "" "$runs" "30.000000 30.000000 30.000000 1"
check no-value runs lat.hop "" "$runs" ""
# Ratios within a round only: a round without b, or with b at 0, gives none; round 1 of run 2
# is not round 1 of run 1.
check ratio ratio thr.tool thr.raw "$rounds" "0.900000 0.500000 2.000000 3"
check difference difference thr.tool thr.raw "$rounds" "15.000000 -50.000000 70.000000 4"
check rounds rounds thr.raw "" "$rounds" "70.000000 0.000000 100.000000 4"
# How far a figure moved between runs, in percent of the smallest; nothing when that is 0.
check moves moves lat.raw "" "$runs" "40.000000 3"
check moves-from-zero moves thr "" "1 thr 0
2 thr 5" ""

[ "$failures" = 0 ] && echo "bench figures: all cases pass"
exit "$failures"
