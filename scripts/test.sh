#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds every preset and runs every suite.
# The Windows build comes first: the Linux end-to-end suite also drives its exe under Wine.
#   scripts/test.sh                 all presets
#   scripts/test.sh linux windows   only these (no fuzzing unless ZW_FUZZ_SECONDS is set)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(windows linux linux-asan linux-tsan)

jobs=$(nproc)
failed=()
for p in "${presets[@]}"; do
  echo "=== preset $p: configure and build"
  start=$(date +%s)
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j"$jobs"
  echo "=== preset $p: test"
  if ! ctest --preset "$p" -j"$jobs"; then
    failed+=("$p")
  fi
  echo "=== preset $p took $(( $(date +%s) - start )) s"
done

# A short fuzzing run of each target from its committed corpus (scripts/fuzz.sh for longer).
if [ $# -eq 0 ] || [ "${ZW_FUZZ_SECONDS:-}" != "" ]; then
  echo "=== fuzz: ${ZW_FUZZ_SECONDS:-10} s per target"
  scripts/fuzz.sh "${ZW_FUZZ_SECONDS:-10}" || failed+=(fuzz)
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED presets: ${failed[*]}"
  exit 1
fi
echo "All presets passed: ${presets[*]}"
