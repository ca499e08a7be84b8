#!/usr/bin/env bash
# The long soak: open-erase-close cycles of the whole tool against boxsim in its fast mode,
# watching descriptors, threads, resident memory and the slowest cycle (about 3 s a cycle).
#
#   scripts/soak.sh            1000 cycles
#   scripts/soak.sh 200        another number
#
# SOAK_BUILD_DIR picks the build folder (default build/soak, configured here in Release).
# Exit status: that of the soak test (0 when every cycle stayed within its bounds).
set -euo pipefail

cycles="${1:-1000}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${SOAK_BUILD_DIR:-$root/build/soak}"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j"${SOAK_JOBS:-2}" --target soak_tests boxsim >/dev/null

log="$build/soak.log"
echo "soak: $cycles cycles (about $((cycles * 3 / 60 + 1)) min); full output in $log"
status=0
ZW_SOAK_CYCLES="$cycles" "$build/tests/soak/soak_tests" >"$log" 2>&1 || status=$?
grep -E '^soak:|Failure|FAILED|cycle -?[0-9]|Which is' "$log" || true
exit "$status"
