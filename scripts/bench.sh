#!/usr/bin/env bash
# Runs the benchmarks of bench/ in a Release build, each beside the raw limit of this machine,
# and writes docs/PERFORMANCE.md: the method, the machine, the figures of this one run, the
# ratios and whether each target is met.
#
#   scripts/bench.sh                  full run (a few minutes), writes docs/PERFORMANCE.md
#   scripts/bench.sh --quick          a short run of each program; prints, writes nothing
#   scripts/bench.sh --output FILE    write the report to FILE instead
#   scripts/bench.sh --no-windows     leave out the size of the Windows program
#
# ZW_BUILD_DIR      Release build directory (default build/bench; configured when missing)
# ZW_WIN_EXE        the Windows program to weigh (default build/windows/app/Zanowipe.exe)
# ZW_WIN_BUILD_DIR  where to build it when it is missing (default build/bench-win)
set -euo pipefail

quick=0
output=
windows=1
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --output) output=$2; shift ;;
    --no-windows) windows=0 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
  shift
done

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
if [ -z "$output" ] && [ "$quick" = 0 ]; then output=docs/PERFORMANCE.md; fi

build=${ZW_BUILD_DIR:-build/bench}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")
if [ "$build_type" != Release ]; then
  echo "bench.sh: $build is a '$build_type' build; figures need Release" >&2
  exit 2
fi
targets=(bench_latency bench_throughput bench_idle bench_erase_overhead boxsim)
have_startup=0
# grep reads to the end: with -q it could quit early and fail the pipeline on SIGPIPE.
if cmake --build "$build" --target help | grep '^bench_startup:' >/dev/null; then
  targets+=(bench_startup)
  have_startup=1
fi
have_network=0
# Needs a real ser2net (Debian's package; scripts/install-deps.sh installs it).
if cmake --build "$build" --target help | grep '^bench_network:' >/dev/null &&
  { [ -x /usr/sbin/ser2net ] || command -v ser2net >/dev/null; }; then
  targets+=(bench_network)
  have_network=1
fi
have_line=0
if cmake --build "$build" --target help | grep '^bench_line:' >/dev/null; then
  targets+=(bench_line zanowipe-cli)
  have_line=1
fi
cmake --build "$build" --target "${targets[@]}"

work=$(mktemp -d /tmp/zw-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
results=$work/results
: >"$results"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# run NAME PROGRAM ARGS...: prints the program's own lines and keeps its RESULT lines.
run() {
  local name=$1
  shift
  local args=("$@")
  [ "$quick" = 1 ] && args+=(--quick)
  printf '\n== %s\n' "$name"
  if ! "${args[@]}" >"$work/$name.out" 2>"$work/$name.err"; then
    cat "$work/$name.out" "$work/$name.err" >&2
    echo "bench.sh: $name failed" >&2
    exit 1
  fi
  grep -v '^RESULT ' "$work/$name.out" | tee "$work/$name.txt"
  grep '^RESULT ' "$work/$name.out" >>"$results"
}

run latency "$build/bench/bench_latency"
run throughput "$build/bench/bench_throughput"
run idle "$build/bench/bench_idle"
run erase "$build/bench/bench_erase_overhead" --boxsim "$build/tools/boxsim/boxsim"
if [ "$have_startup" = 1 ]; then
  run startup "$build/bench/bench_startup"
fi
if [ "$have_line" = 1 ]; then
  run line "$build/bench/bench_line" --boxsim "$build/tools/boxsim/boxsim" \
    --cli "$build/app/cli/zanowipe-cli"
fi
if [ "$have_network" = 1 ]; then
  run network "$build/bench/bench_network"
fi

exe=
if [ "$windows" = 1 ]; then
  exe=${ZW_WIN_EXE:-build/windows/app/Zanowipe.exe}
  if [ ! -f "$exe" ]; then
    win_build=${ZW_WIN_BUILD_DIR:-build/bench-win}
    printf '\n== building %s\n' "$win_build/app/Zanowipe.exe"
    if [ ! -f "$win_build/build.ninja" ]; then
      cmake -S . -B "$win_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DZW_BUILD_TESTS=OFF
    fi
    cmake --build "$win_build" --target Zanowipe
    exe=$win_build/app/Zanowipe.exe
  fi
  exe_bytes=$(stat -c %s "$exe")
  printf '\n== Windows program\n%s: %s bytes\n' "$exe" "$exe_bytes"
  echo "RESULT exe.bytes $exe_bytes B" >>"$results"
  exe_stripped=
  if command -v i686-w64-mingw32-strip >/dev/null; then
    i686-w64-mingw32-strip -o "$work/stripped.exe" "$exe"
    exe_stripped=$(stat -c %s "$work/stripped.exe")
    echo "stripped: $exe_stripped bytes"
  fi
  exe_dlls=
  if command -v i686-w64-mingw32-objdump >/dev/null; then
    exe_dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -f |
      paste -sd, - | sed 's/,/, /g')
    echo "imports: $exe_dlls"
  fi
fi
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

[ -n "$output" ] || exit 0

# r KEY [FORMAT]: one figure of this run.
r() {
  local value
  value=$(awk -v k="$1" '$1 == "RESULT" && $2 == k { print $3; exit }' "$results")
  if [ -z "$value" ]; then
    echo "n/a"
  else
    awk -v v="$value" -v f="${2:-%.1f}" 'BEGIN { printf f, v }'
  fi
}
# met EXPRESSION: "yes" or "**no**" by an awk condition over the figures named $1..$n.
met() {
  if awk "BEGIN { exit !($1) }"; then echo yes; else echo "**no**"; fi
}

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
cores=$(nproc)
mem=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
kernel=$(uname -r)
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
when=$(date -u '+%Y-%m-%d %H:%M UTC')

lat_ratio=$(r latency.ratio.p50 %.2f)
thr_ratio=$(r throughput.ratio %.2f)
idle_wakeups=$(r idle.serial.wakeups %.0f)
overhead=$(r erase.overhead %.2f)
lat_met="$(met "$lat_ratio <= 1.5") in this run; by design not in general (section 1)"
thr_met="$(met "$thr_ratio >= 0.5") in this run; it depends on the load (section 2)"
idle_met=$(met "$idle_wakeups == 0")
overhead_met=$(met "$overhead < 20")
if [ "$have_line" = 1 ]; then
  line_idle=$(r line.idle.parent_wakeups %.0f)/$(r line.idle.worker_wakeups %.0f)
  line_met=$(met "$(r line.idle.parent_wakeups %.0f) == 0 && $(r line.idle.worker_wakeups %.0f) == 0 && $(r line.verified %.0f) == $(r line.boxes %.0f)")
  line_row="| A line of $(r line.boxes %.0f) Boxes at once on ptys: every flash right; wake-ups of the parent/workers while every port waits for its Box | all, none | $(r line.verified %.0f) of $(r line.boxes %.0f); $line_idle in $(r line.idle.seconds) s | $line_met |"
  if [ "$(r line.net.measured %.0f)" = 1 ]; then
    net_idle=$(r line.net.idle.parent_wakeups %.0f)/$(r line.net.idle.worker_wakeups %.0f)
    net_met=$(met "$(r line.net.idle.parent_wakeups %.0f) == 0 && $(r line.net.idle.worker_wakeups %.0f) == 0 && $(r line.net.verified %.0f) == $(r line.boxes %.0f)")
    line_row="$line_row
| The same with every Box behind ser2net (\`rfc2217://\`) | all, none | $(r line.net.verified %.0f) of $(r line.boxes %.0f); $net_idle in $(r line.net.idle.seconds) s | $net_met |"
  fi
else
  line_row="| A line of 16 Boxes at once | all flashes right, no idle wake-ups | not measured | - |"
fi
if [ -n "$exe" ]; then
  exe_mb=$(awk -v b="$exe_bytes" 'BEGIN { printf "%.2f", b / 1000000 }')
  exe_met=$(met "$exe_bytes < 1500000")
  exe_row="| Size of the static \`Zanowipe.exe\` | under 1.5 MB | $exe_mb MB ($exe_bytes bytes) | $exe_met |"
else
  exe_row="| Size of the static \`Zanowipe.exe\` | under 1.5 MB | not measured (--no-windows) | - |"
fi

mkdir -p "$(dirname "$output")"
{
  cat <<EOF
# Performance

Generated by \`scripts/bench.sh\` on $when at commit \`$commit\`; run it again to refresh
(the figures below are those of one run). The programs are in \`bench/\`; each also runs as a
quick smoke test under CTest (label \`bench\`).

## Targets

| What | Target | This run | Met |
|---|---|---|---|
| Byte-to-handler latency, p50, against a raw \`poll()\` + \`read()\` loop | within 1.5x | ${lat_ratio}x ($(r latency.tcomx.p50) us against $(r latency.raw.p50) us) | $lat_met |
| Receive throughput through \`TComX\`, against a raw read loop | at least 0.5x | ${thr_ratio}x ($(r throughput.tcomx) against $(r throughput.raw) MB/s) | $thr_met |
| Idle port ("Awaiting device"): wake-ups of the serial path | none | $idle_wakeups in $(r idle.seconds) s | $idle_met |
| Tool overhead on a whole erase against boxsim, beyond its timers | under 20 ms | $overhead ms | $overhead_met |
$exe_row
$line_row

## Machine

- CPU: $cpu, $cores logical processors (\`nproc\`), $mem of memory, Linux $kernel.
- Load average (1, 5, 15 min) before the run: $load_before; after it: $load_after. The machine is
  shared: other work running at the same time shows in the latencies and throughputs, which
  is why each comparison runs the raw loop and the component side by side, interleaved.
- Release build (CMake's \`-O3 -DNDEBUG\`), g++ $(g++ -dumpfullversion).

## 1. Byte-to-handler latency

The other end of a pseudo-terminal (the master) writes one byte; the time runs until
\`OnRxChar\` has been called on the main thread (\`smThreadSync\`, the headless loop serving the
hand-over, the tool's own port settings). Between samples every thread is left asleep for
0.5 ms, so each sample pays for the wake-ups a byte from an idle device really costs. Beside
it: one thread that writes the byte and waits for it with \`poll()\` + \`read()\` on the slave
(the raw limit); the same with one hand-over to a second thread through a condition variable
(what one thread hop costs here); and \`TComX\` with the handler on the watcher's own thread
(\`smNone\`). $(r latency.samples %.0f) samples each, in five interleaved rounds. "Wake-ups" counts
how often a thread of the process went to sleep per byte (voluntary context switches of the
whole process, from \`getrusage\`; each such sleep ends in a wake-up), a figure that hardly
depends on the machine's load.

| Path | p50 (us) | p99 (us) | min (us) | wake-ups a byte |
|---|---|---|---|---|
| raw \`poll()\` + \`read()\` | $(r latency.raw.p50) | $(r latency.raw.p99) | $(r latency.raw.min) | $(r latency.raw.wakeups_per_byte) |
| raw + one thread hop | $(r latency.raw_hop.p50) | $(r latency.raw_hop.p99) | | $(r latency.raw_hop.wakeups_per_byte) |
| \`TComX\`, \`OnRxChar\` on the watcher (\`smNone\`) | $(r latency.watcher.p50) | $(r latency.watcher.p99) | | $(r latency.watcher.wakeups_per_byte) |
| \`TComX\`, \`OnRxChar\` on the main thread | $(r latency.tcomx.p50) | $(r latency.tcomx.p99) | $(r latency.tcomx.min) | $(r latency.tcomx.wakeups_per_byte) |

Ratio \`TComX\` / raw: p50 ${lat_ratio}x, p99 $(r latency.ratio.p99 %.2f)x. The medians move with the
machine's load from run to run: over the runs made while this was worked on, the raw loop's
median ranged from about 5 to 60 us and the component's from about 25 to 90 us, so single
ratios ranged from about 1 to 15. The counts of wake-ups did not move.

**Why the 1.5x target is out of reach by design.** A byte reaches the handler through three
threads where the raw loop uses one: the engine thread (which gives the tty the Windows
behaviour: its own queue, overlapped completion, comm events) wakes from \`poll()\` and
completes the watcher's event wait; the watcher (\`TComThread\`, one per open port, as the
component's contract has it) wakes and hands the dispatch over; the main thread wakes, asks
\`BytesWaiting\` and runs \`OnRxChar\`, and the watcher wakes once more when the call has run.
The raw loop is woken once, by the kernel, usually on its own processor. Each hand-over
instead wakes a thread that sleeps, often on the other processor, and on this virtual machine
waking a sleeping processor costs anything from a few to some tens of microseconds from one
sample to the next: see the "one thread hop" row, whose minimum is a few microseconds above the
raw loop's while its median can be several times the raw loop's. The stable measure is the
count of wake-ups: 1 to 2 a byte for the raw loop (the pause between samples, and the
\`poll()\` when the byte is not there yet), 3 to 3.5 with one hop, and through \`TComX\` what the
table shows, against a floor of 5 (the pause, the engine, the watcher twice, the main thread)
and 9 before the changes below. The latency of
the component is thus a few hand-overs: tens of microseconds, of the order of the time one
character takes on the tool's 115200-baud line (87 us). Meeting 1.5x would need the main loop
to poll the tty itself (a socket notifier in the GUI loop, say), doing away with the engine
thread that gives the port its Windows semantics, and with the component's event thread and
its hand-over of each event to the main thread.

## 2. Receive throughput

A writer thread pushes 4 KiB chunks into the master as fast as the pty takes them; the port
reads them the way the tool does: \`OnRxChar\` on the main thread, then one \`Read\` of \`Count\`
bytes, with the tool's settings (1 KiB input queue, read timeouts MAXDWORD/0/100). The same
with a 64 KiB input queue shows how much of the gap is the tool's small queue. Beside them the
raw limit: \`poll()\` + \`read()\` of up to 64 KiB on the slave. $(r throughput.bytes %.0f) bytes a
round, median of five interleaved rounds. CPU time and wake-ups are those of the whole
process, writer included (\`getrusage\`).

| Path | MB/s | multiple of 115200 baud (11,520 B/s) | against raw | bytes a handler call or read | CPU ms a MB | wake-ups a MB |
|---|---|---|---|---|---|---|
| raw read loop | $(r throughput.raw) | $(r throughput.raw.line_multiple %.0f) | 1 | $(r throughput.raw.bytes_per_call %.0f) | $(r throughput.raw.cpu_per_mb) | $(r throughput.raw.wakeups_per_mb %.0f) |
| \`TComX\`, the tool's settings | $(r throughput.tcomx) | $(r throughput.tcomx.line_multiple %.0f) | **${thr_ratio}x** | $(r throughput.tcomx.bytes_per_call %.0f) | $(r throughput.tcomx.cpu_per_mb) | $(r throughput.tcomx.wakeups_per_mb %.0f) |
| \`TComX\`, 64 KiB input queue | $(r throughput.tcomx_64k) | $(r throughput.tcomx_64k.line_multiple %.0f) | $(r throughput.ratio_64k %.2f)x | $(r throughput.tcomx_64k.bytes_per_call %.0f) | $(r throughput.tcomx_64k.cpu_per_mb) | $(r throughput.tcomx_64k.wakeups_per_mb %.0f) |

**This ratio depends on the machine's load more than on anything else.** Over the runs made
while this was worked on, the component moved 25-75 MB/s, while the raw loop moved 200-240
MB/s when the machine was quiet and 35-180 MB/s when it was busy: the ratio ranged from 0.26 to
1.1, so the target is met on a busy machine and missed by about a factor of two on a quiet
one. Where the rest goes: every round of the tool's handler costs the same hand-overs as
a single byte does (section 1), for about 4.5 KB (the 1 KiB queue plus what the pty holds);
on this virtual machine the process's time goes mostly to switching between its threads (a
third of all profile samples in the scheduler's switch, against reading and copying bytes),
which the 64 KiB queue, with four times the bytes a round, barely changes. The engine's
byte-at-a-time receive rules (line-error marks, NUL discarding) were the largest user-space
cost in the profile (some 15 % of the samples); a bulk copy for chunks with no mark and no NUL
was tried, checked against the fuzz target's reference decoder, and left out: it made no
difference that rose above the noise. At the tool's line rate all of this is idle capacity:
the component carries thousands of times what 115200 baud can deliver.

## 3. Idle cost

The tool's window (\`TForm1\` on the headless loop) with its port open on a silent pty, status
"COM Port opened, switch Box to Power ON", for $(r idle.seconds) s. The counters of each thread
are read from \`/proc/self/task/*/status\` and \`schedstat\` by the main thread just before and
just after it sleeps in the loop for the whole window, so the measurement adds one wake-up (the
end of the window) and nothing else.

\`\`\`
$(grep -E '^(tid|[0-9])' "$work/idle.txt")
\`\`\`

Threads of the serial path (the engine, \`zwtty-N\`, and the watcher): $(r idle.serial.threads %.0f),
$idle_wakeups wake-ups and $(r idle.serial.switches_per_s %.2f) context switches a second between
them. The main thread: $(r idle.main.wakeups %.0f) wake-up(s), the end of the window. No timer runs
while the tool waits for the Box, and neither the engine nor the watcher has a time-out: both
sleep until a byte, a transfer or a close arrives.

## 4. Tool overhead on a whole erase

The window's own handlers on the headless loop (real clock), clicked through as
\`zanowipe-cli\` does, against \`boxsim --fast --wait-signal\` (no device delays): "Open COM",
the Box switched on at once (SIGUSR1, as the technician does after the click), "Erase users
data" as soon as it is offered, until the completion timer has closed the port. The run is
built on three timer periods: two ticks of the 700 ms wake-up timer (the first sends the line
feed that stops the boot; the next finds the prompt and offers the erase) and the 1500 ms
completion wait. Everything else is overhead. The run with the median overhead of
$(r erase.runs %.0f), whole, so that its parts add up:

| Part | ms |
|---|---|
| total, "Open COM" to "COMPLETE" with the port closed | $(r erase.total) |
| the timers: 2 x 700 + 1500 | $(r erase.timers %.0f) |
| **overhead** | **$overhead** (all runs: $(r erase.overhead.min %.2f) to $(r erase.overhead.max %.2f)) |
| of which: "Open COM" (open, settings, watcher start) | $(r erase.open %.2f) |
| the Box's first bytes reaching the handler after power-on | $(r erase.box_answers %.2f) |
| timers firing late (the loop counts whole milliseconds, so a tick may also come a little early) | $(r erase.timer_lateness %.2f) |
| from the tick that offers the erase to the click | $(r erase.ready_to_click %.2f) |
| the erase command out, the Box's echo and prompt back | $(r erase.erase_round_trip %.2f) |
| closing the port from the completion tick | $(r erase.closing %.2f) |

EOF
  echo "## 5. Start-up and footprint"
  echo
  if [ "$have_startup" = 1 ]; then
    cat <<EOF
\`zanowipe\`'s window under Qt 6 (\`QT_QPA_PLATFORM=offscreen\`): from \`fork()\` of the process to
the moment its loop runs after the window was shown (its show and first paint are queued
before that moment), median of $(r startup.runs %.0f) warm starts: **$(r startup.shown) ms** (fastest
$(r startup.shown.min) ms). Resident memory then: $(r startup.rss %.0f) kB (peak $(r startup.rss_peak %.0f) kB), counting the pages of
the shared Qt libraries that the process touched.

EOF
  fi
  if [ -n "$exe" ]; then
    cat <<EOF
The Windows program, 32-bit, linked statically: \`$exe\`, $exe_bytes bytes as built
(Release, symbols kept)${exe_stripped:+, $exe_stripped bytes stripped}.${exe_dlls:+ It imports only
system DLLs: $exe_dlls.}

EOF
  fi
  if [ "$have_line" = 1 ]; then
    cat <<EOF
## 6. A line of $(r line.boxes %.0f) Boxes at once

\`zanowipe-cli\` with $(r line.boxes %.0f) \`--port\` options and \`--record\`: each port in a worker
process of its own (this program again, run with \`--worker\`), which sends its events to the
parent as JSON lines on a pipe and appends each Box's record to the file itself. Against as many
\`boxsim --fast --wait-signal\` on pseudo-terminals: every port is opened, and every Box has seen
its port opened, before all the Boxes are switched on at once (SIGUSR1), as a technician would
switch on a bench of them. Then the same again with every Box behind a ser2net of its own
(Debian's, on the loopback; the ports are \`rfc2217://127.0.0.1:PORT\`), when ser2net is
installed.

| What | On ptys | Behind ser2net |
|---|---|---|
| Flash images erased exactly in the user range (\`boxsim --verify-flash\`) | $(r line.verified %.0f) of $(r line.boxes %.0f) | $(r line.net.verified %.0f) of $(r line.boxes %.0f) |
| Record lines / of them COMPLETE | $(r line.records %.0f) / $(r line.records_complete %.0f) | $(r line.net.records %.0f) / $(r line.net.records_complete %.0f) |
| Wall time, switch-on to the line's end (one Box on its own, on a pty: $(r line.single.wall %.2f) s) | $(r line.wall %.2f) s ($(r line.wall_ratio %.2f)x) | $(r line.net.wall %.2f) s ($(r line.net.wall_ratio %.2f)x) |
| CPU of the parent, start to end | $(r line.parent_cpu %.1f) ms | $(r line.net.parent_cpu %.1f) ms |
| CPU of the $(r line.boxes %.0f) workers, start to end (one Box on its own, whole program: $(r line.single.cpu %.1f) ms) | $(r line.workers_cpu %.0f) ms ($(r line.worker_cpu %.1f) ms each) | $(r line.net.workers_cpu %.0f) ms ($(r line.net.worker_cpu %.1f) ms each) |
| Wake-ups of the parent while every port waited for its Box | $(r line.idle.parent_wakeups %.0f) in $(r line.idle.seconds) s | $(r line.net.idle.parent_wakeups %.0f) in $(r line.net.idle.seconds) s |
| The same, the $(r line.idle.workers %.0f) workers ($(r line.idle.worker_threads %.0f) threads) | $(r line.idle.worker_wakeups %.0f) | $(r line.net.idle.worker_wakeups %.0f) |

Wake-ups are the context switches of every thread of the parent and of each worker
(\`/proc/PID/task/*/status\`) over the window. The parent sleeps in \`poll()\` on its workers'
pipes and a signalfd with no timeout (a table on a terminal adds one wake-up a second, and only
while some port is in a step whose time it shows, never while a port waits for its Box); each
worker sleeps as a single run does (its main loop, the interrupt watch, the port's engine and
watcher, none with a time-out; behind ser2net the engine waits on a socket instead of a tty,
and ser2net's own wake-ups are not counted). The CPU of the parent is its own run time, read
while it is a zombie (\`/proc/PID/schedstat\`); a third of it or more is the kernel's work of
collecting its workers (\`wait4()\` dropping each one's \`/proc\` entries). The workers' is the
rest of what \`wait4()\` reports for the parent, start-up included. The wall time is the timers'
(two wake-up ticks and the 1.5 s completion wait, as in section 4) plus what the ports cost
each other on this machine's $cores processors.

EOF
  fi
  if [ "$have_network" = 1 ]; then
    # The tool's own share of a byte's way through the server: its port against a plain socket
    # reading the same server.
    net_share=$(awk -v a="$(r network.rfc2217.latency.p50)" -v b="$(r network.socket.latency.p50)" \
      'BEGIN { printf "%.1f", a - b }')
    net_flow=$(awk -v a="$(r network.rfc2217.throughput %.3f)" \
      -v b="$(r network.socket.throughput %.3f)" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')
    cat <<EOF
## 7. Through a serial server

The measurements of sections 1 and 2 (one byte at a time after 0.5 ms of sleep, \`OnRxChar\` on
the main thread; a writer filling the master, the tool's handler reading \`Count\`), on a pty
directly and on the same kind of pty behind a real ser2net on loopback, the port opened as
\`rfc2217://\` and as \`tcp://\`. Beside them, what the network path costs by itself: a plain
socket that reads ser2net's raw TCP port with \`poll()\` + \`read()\`. ser2net normally holds back
what it reads from a device for at least 1 ms, hoping for more, so as to send fewer packets
(its \`chardelay\`); the rows through ser2net run with \`chardelay: false\`, so that they measure
the path, and the last row once more with ser2net's defaults, as a site runs it. All paths in
$(r network.rounds %.0f) interleaved rounds; $(r network.samples %.0f) latency samples and $(r network.bytes %.0f) bytes a round each (\`bench/NetworkBench.cpp\`).

| Path | latency p50 (us) | p99 (us) | wake-ups a byte | MB/s | CPU ms a MB |
|---|---|---|---|---|---|
| \`TComX\` on the pty | $(r network.direct.latency.p50) | $(r network.direct.latency.p99) | $(r network.direct.latency.wakeups_per_byte) | $(r network.direct.throughput) | $(r network.direct.throughput.cpu_per_mb) |
| \`TComX\`, \`rfc2217://\` through ser2net | $(r network.rfc2217.latency.p50) | $(r network.rfc2217.latency.p99) | $(r network.rfc2217.latency.wakeups_per_byte) | $(r network.rfc2217.throughput) | $(r network.rfc2217.throughput.cpu_per_mb) |
| \`TComX\`, \`tcp://\` through ser2net | $(r network.tcp.latency.p50) | $(r network.tcp.latency.p99) | $(r network.tcp.latency.wakeups_per_byte) | $(r network.tcp.throughput) | $(r network.tcp.throughput.cpu_per_mb) |
| plain socket through ser2net (the path's limit) | $(r network.socket.latency.p50) | $(r network.socket.latency.p99) | $(r network.socket.latency.wakeups_per_byte) | $(r network.socket.throughput) | $(r network.socket.throughput.cpu_per_mb) |
| \`TComX\`, \`rfc2217://\`, ser2net's defaults | $(r network.rfc2217_default.latency.p50) | $(r network.rfc2217_default.latency.p99) | $(r network.rfc2217_default.latency.wakeups_per_byte) | $(r network.rfc2217_default.throughput) | $(r network.rfc2217_default.throughput.cpu_per_mb) |

A byte through the server reaches the tool's handler $net_share us (p50) after it reaches a plain
socket reading the same server: the port's own share, the same few hand-overs as on a tty
(section 1), with the Telnet decoding in the engine. The wake-ups a byte are those of the tool's
process only; ser2net's are its own. The CPU a MB counts the whole process (writer included)
but not ser2net, which does most of the path's work: reading the pty, escaping, sending.
Receiving in bulk, the port through \`rfc2217://\` moved ${net_flow}x what the plain socket did
through the same server: ser2net, one process reading the pty and writing the socket, sets the
pace of both, far above the line's (115200 baud is 0.0115 MB/s). With its defaults, ser2net's
hold-back sets the latency (a few milliseconds); at the tool's 700 ms wake-up ticks and a Box
that answers in lines, neither figure is felt.

EOF
  fi
  cat <<'EOF'
## What was changed to meet the targets

Each change measured before and after on this machine with the programs above, builds of the
commits before and after it run interleaved, twice (the ranges are the two runs; the load of
the machine varied, the counts of wake-ups and the CPU times hardly do). The latency medians
did not move beyond their noise (60-90 us in all four builds while the raw loop took 6-12 us);
the wake-ups a byte did.

| Build | wake-ups a byte to `OnRxChar` | wake-ups a MB received | CPU ms a MB | bytes a handler call | throughput against raw |
|---|---|---|---|---|---|
| before (eff3076^) | 9.0-9.2 | 3,340-3,620 | 42-47 | 1,024 | 0.24-0.41x |
| engine reads and wake-ups (eff3076) | 7.8 | 770-780 | 14 | 4,490-4,520 | 0.81-0.87x |
| runtime notifies after unlocking (2b9436a) | 6.7-6.8 | 560-700 | 10-17 | 4,570-4,680 | 0.56-0.66x |
| outcome read without the lock (f888e8b) | 6.0-6.1 | 660-670 | 12-18 | 4,380-4,440 | 0.63-0.72x |
| headless loop woken after its unlock (3c70d11) | 5.6-5.7 | not measured | | | |

- **The engine's reads deliver what `BytesWaiting` counts** (eff3076;
  `serial/driver/posix/TtyEngine.cpp`, `TtyPort.cpp`, `TtyPort.h`, with a test in
  `tests/pty/EngineReadTimeoutsTest.cpp`). `OnRxChar` gets `cbInQue`, which counts the engine's
  queue *and* what the kernel still holds, and the tool's handler reads that many with its
  at-once read timeouts. The engine completed such a read with the queue's share only, so with
  the tool's 1024-byte queue the handler asked for up to 5 KB, got 1 KB, and every further
  kilobyte cost another round through the watcher and the main thread. Such a read now tops
  the queue up from the tty until it has its count or the tty is empty. In the same commit,
  **no needless engine wake-ups**: `ClearCommError` (every `BytesWaiting`) and every read that
  completed at once woke the engine thread through its eventfd whether or not it had anything
  to do, so each `OnRxChar` woke it twice, after which it queued for the lock the handler
  held; it is now woken only when its poll had left the tty out for a full queue. A short read
  from the tty ends the pull without a second `read()` that could only say EAGAIN.
- **The runtime notifies waiters after letting go of their mutex** (2b9436a,
  `runtime/posix/Event.cpp`, `runtime/MainThread.cpp`; the runtime's owner committed it
  together with the same change to the hidden window). `SetEvent` and the end of a handed-over
  call notified the waiting thread while holding the mutex it must take to return, so it woke
  only to block again.
- **The watcher reads its completion without the engine's lock** (f888e8b,
  `serial/driver/posix/TtyPort.cpp`): woken by the completed event wait, it queued for the lock
  the engine still held while finishing the same pass. The block's state word is published
  last, so the outcome is seen whole without the lock.
- **The headless loop is woken after its mutex is let go** (3c70d11,
  `gui/headless/HeadlessBackend.cpp`): the same pattern as the runtime's, on the main thread's
  side of the hand-over.
- **The Release build of `Zanowipe.exe` compiles again** (a41aebb,
  `gui/win32/Win32Pictures.cpp`): g++ 12 at -O3 took `"#" + std::to_string(id)` for an
  overlapping copy (`-Wrestrict`, with `-Werror`); the id is formatted with `snprintf` now.

A finding on the way, not a fault of the component: an event raised before `SetCommMask` is
not remembered (as on Windows), so bytes that arrive between the open and the watcher's start
raise no `EV_RXCHAR` until the next byte comes. A real Box is switched on after "Open COM";
`boxsim`, which switches on when the device is opened, can answer inside that window (it
notices the open within 20 ms, and the window is a fraction of a millisecond), and the tool
then sees the start-up text only with the countdown's next second, or, with `--at-console`,
not at all. The erase benchmark therefore switches boxsim by signal after the open.

## Raw output of this run

EOF
  for name in latency throughput idle erase startup line; do
    [ -f "$work/$name.txt" ] || continue
    printf '### %s\n\n```\n' "$name"
    cat "$work/$name.txt"
    printf '```\n\n'
  done
} >"$output"
# Keep the file free of trailing blanks (markdown line breaks are not used here).
sed -i 's/[[:space:]]*$//' "$output"
echo
echo "bench.sh: wrote $output"
