#!/usr/bin/env bash
# The engine's long stress run: rounds of random concurrent reads, writes, comm-event waits on
# two ports, purges, pollers and a server that suspends and resumes its flow
# (tests/pty/EngineStressTest.cpp), under a sanitizer preset, every completion bounded.
#
#   scripts/stress.sh                 3000 rounds under linux-tsan
#   scripts/stress.sh 500             another number
#   scripts/stress.sh 3000 linux-asan another preset (linux, linux-asan, linux-tsan)
#
# ZW_STRESS_SEED repeats a run (each run prints its seed); ZW_STRESS_SLACK_MS is how late a
# completion may be (default here 1000 ms). Exit status: that of the test (0 when every round
# kept its bounds and counted every byte).
set -euo pipefail

rounds="${1:-3000}"
preset="${2:-linux-tsan}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/$preset"

cd "$root"
if [ ! -f "$build/build.ninja" ]; then
  cmake --preset "$preset" >/dev/null
fi
cmake --build "$build" -j"${STRESS_JOBS:-2}" --target pty_stress_tests >/dev/null

log="$build/stress.log"
echo "stress: $rounds rounds under $preset; full output in $log"
status=0
ZW_STRESS_ROUNDS="$rounds" ZW_STRESS_SLACK_MS="${ZW_STRESS_SLACK_MS:-1000}" \
  "$build/tests/pty/pty_stress_tests" >"$log" 2>&1 || status=$?
grep -E '^stress:|Failure|round [0-9]+:|WARNING: ThreadSanitizer|ERROR: AddressSanitizer|runtime error|Assertion' "$log" || true
exit "$status"
