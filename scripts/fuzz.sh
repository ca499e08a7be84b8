#!/usr/bin/env bash
# Builds the libFuzzer targets (preset linux-fuzz: clang, ASan + UBSan) and runs each for a
# while, starting from its committed corpus. Prints the executions each run reached.
#
#   scripts/fuzz.sh            20 s per target
#   scripts/fuzz.sh 5          a short run, as the test command does
#   scripts/fuzz.sh 600        a longer local run; new inputs collect in build/linux-fuzz/corpus
#
# Exit status: 0 when every target ran clean, 1 when one found a crash or a broken invariant
# (the input is kept in build/linux-fuzz/findings/), 2 when the build failed.
set -euo pipefail

seconds="${1:-20}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/linux-fuzz"
targets=(fuzz_console_scanner fuzz_settings_reader fuzz_dcb_builder fuzz_receive_path
         fuzz_telnet_decoder)

cd "$root"
if ! { cmake --preset linux-fuzz >"$build.configure.log" 2>&1 &&
       cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target "${targets[@]}" >"$build.build.log" 2>&1; }; then
  echo "fuzz: build failed; see $build.configure.log and $build.build.log" >&2
  tail -n 30 "$build.build.log" 2>/dev/null >&2 || tail -n 30 "$build.configure.log" >&2
  exit 2
fi

status=0
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$work" "$findings"
  log="$build/$t.log"
  # The committed seeds first, then what earlier runs found; new inputs go to the work folder
  # only, so the repository's corpus stays small (minimise by hand before adding to it).
  if "$build/tests/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$work" "$root/tests/fuzz/corpus/$t" >"$log" 2>&1; then
    result="ok"
  else
    result="FAILED (see $log)"
    status=1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
  cov="$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)"
  printf 'fuzz: %-22s %ss  executions %s (%s/s)  %s  %s\n' \
    "$t" "$seconds" "${runs:-?}" "${rate:-?}" "${cov:-}" "$result"
  if [ "$result" != "ok" ]; then grep -m 5 -E 'invariant broken|ERROR:|SUMMARY' "$log" >&2 || true; fi
done
exit "$status"
