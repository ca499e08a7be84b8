#!/usr/bin/env bash
# Builds the libFuzzer targets (preset linux-fuzz: clang, ASan + UBSan) and runs each for a
# while, starting from its committed corpus. Prints the executions each run reached.
#
#   scripts/fuzz.sh            20 s per target
#   scripts/fuzz.sh 5          a short run, as the test command does
#   scripts/fuzz.sh 600        a longer local run; new inputs collect in build/linux-fuzz/corpus
#   scripts/fuzz.sh --runs 10000000 [--workers 2] [--merge] [fuzz_receive_path ...]
#                              a deep run: each target (all, or those named) until it has
#                              executed that many inputs; --workers runs libFuzzer's fork mode
#                              with that many processes; afterwards the coverage its corpus
#                              reaches (cov/ft, replayed in one process) and the wall time
#                              are printed. --merge then adds to tests/fuzz/corpus/<target>/
#                              only the collected inputs that reach something the committed
#                              ones do not (libFuzzer's -merge=1), keeping that corpus small.
#
# Run long jobs under `nice -n 19` on a shared machine.
#
# Exit status: 0 when every target ran clean, 1 when one found a crash or a broken invariant
# (the input is kept in build/linux-fuzz/findings/), 2 when the build failed or the arguments
# are wrong.
set -euo pipefail

seconds=20
runs=""
workers="${FUZZ_WORKERS:-1}"
merge=0
targets=()
all_targets=(fuzz_console_scanner fuzz_settings_reader fuzz_dcb_builder fuzz_receive_path
             fuzz_telnet_decoder)
while [ $# -gt 0 ]; do
  case "$1" in
    --runs | --workers)
      [ $# -ge 2 ] || { echo "fuzz: $1 needs a number" >&2; exit 2; }
      if [ "$1" = --runs ]; then runs="$2"; else workers="$2"; fi
      shift 2 ;;
    --merge) merge=1; shift ;;
    fuzz_*) targets+=("$1"); shift ;;
    *) seconds="$1"; shift ;;
  esac
done
for n in "$seconds" "$workers" ${runs:+"$runs"}; do
  if ! [[ "$n" =~ ^[1-9][0-9]*$ ]]; then
    echo "fuzz: '$n' is not a positive number; see the head of $0" >&2
    exit 2
  fi
done
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/linux-fuzz"

cd "$root"
mkdir -p "$root/build"  # the logs sit beside the build folder, which a fresh clone lacks
if ! { cmake --preset linux-fuzz >"$build.configure.log" 2>&1 &&
       cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target "${targets[@]}" >"$build.build.log" 2>&1; }; then
  echo "fuzz: build failed; see $build.configure.log and $build.build.log" >&2
  tail -n 30 "$build.build.log" 2>/dev/null >&2 || tail -n 30 "$build.configure.log" >&2
  exit 2
fi

common=(-timeout=10 -rss_limit_mb=2048 -max_len=4096)
limit=(-max_total_time="$seconds")
[ -z "$runs" ] || limit=(-runs="$runs")
[ "$workers" -eq 1 ] || limit+=(-fork="$workers")

status=0
for t in "${targets[@]}"; do
  bin="$build/tests/fuzz/$t"
  seeds="$root/tests/fuzz/corpus/$t"
  work="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$work" "$findings"
  log="$build/$t.log"
  start=$(date +%s)
  # The committed seeds first, then what earlier runs found; new inputs go to the work folder
  # only, so the repository's corpus stays small (--merge, or minimise by hand, to add to it).
  if "$bin" "${limit[@]}" "${common[@]}" -print_final_stats=1 -artifact_prefix="$findings/" \
      "$work" "$seeds" >"$log" 2>&1; then
    result="ok"
  else
    result="FAILED (see $log)"
    status=1
  fi
  took=$(( $(date +%s) - start ))
  executed="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
  if [ "$workers" -ne 1 ]; then  # fork mode: the parent counts its jobs' executions
    executed="$(sed -n 's/^#\([0-9]*\): .*/\1/p' "$log" | tail -n 1)"
    rate=$(( ${executed:-0} / (took > 0 ? took : 1) ))
  fi
  if [ -z "$runs" ]; then
    cov="$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)"
    printf 'fuzz: %-22s %ss  executions %s (%s/s)  %s  %s\n' \
      "$t" "$seconds" "${executed:-?}" "${rate:-?}" "${cov:-}" "$result"
  else
    # One measure for every mode: what the corpus reaches when replayed in one process.
    cov="$("$bin" -runs=0 "${common[@]}" "$work" "$seeds" 2>&1 |
           sed -n 's/.*INITED \(cov: [0-9]* ft: [0-9]*\).*/\1/p' | tail -n 1)"
    printf 'fuzz: %-22s %ss  executions %s (%s/s)  corpus %s  %s  %s\n' \
      "$t" "$took" "${executed:-?}" "${rate:-?}" "$(ls "$work" | wc -l)" "${cov:-}" "$result"
  fi
  if [ "$result" != "ok" ]; then
    grep -m 5 -E 'invariant broken|ERROR:|SUMMARY' "$log" >&2 || true
  elif [ "$merge" -eq 1 ]; then
    before=$(ls "$seeds" | wc -l)
    "$bin" -merge=1 "${common[@]}" "$seeds" "$work" >"$build/$t.merge.log" 2>&1 ||
      { echo "fuzz: merge of $t failed; see $build/$t.merge.log" >&2; status=1; }
    echo "fuzz: $t: committed corpus $before -> $(ls "$seeds" | wc -l) files"
  fi
done
exit "$status"
