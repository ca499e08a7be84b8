#!/usr/bin/env bash
# The first command to run: installs and builds what is missing, then erases a simulated Box
# end to end with zanowipe-cli, shows the read-back that proves the erase and checks the Box's
# flash byte for byte; then a Box whose chip refuses every write, which the read-back catches.
# With a display it then opens the window on a fresh simulated Box for you to try.
#
#   scripts/demo.sh                    erase the user data
#   scripts/demo.sh --include-config   erase the configuration as well
#   ZW_BUILD_DIR=DIR scripts/demo.sh   use an existing build tree instead of the preset's
set -euo pipefail

include_config=0
for arg in "$@"; do
  case "$arg" in
    --include-config) include_config=1 ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown argument '$arg' (see --help)" >&2; exit 2 ;;
  esac
done

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

step() { printf '\n== %s\n' "$*"; }

work=$(mktemp -d /tmp/zanowipe-demo.XXXXXX)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "Dependencies and build"
if [ -x scripts/install-deps.sh ]; then
  scripts/install-deps.sh
fi
# ZW_BUILD_DIR: an existing build directory to use instead of the "linux" preset's.
build=${ZW_BUILD_DIR:-build/linux}
if [ -n "${ZW_BUILD_DIR:-}" ]; then
  build_cmd=(cmake --build "$build")
else
  [ -f "$build/build.ninja" ] || cmake --preset linux
  build_cmd=(cmake --build --preset linux)
fi
targets=(boxsim zanowipe-cli)
if [ -n "${DISPLAY:-}" ] && "${build_cmd[@]}" --target help 2>/dev/null | grep -q '^zanowipe:'; then
  targets+=(zanowipe)
fi
"${build_cmd[@]}" --target "${targets[@]}"
boxsim=$build/tools/boxsim/boxsim
cli=$build/app/cli/zanowipe-cli
qt=$build/app/zanowipe

# Starts boxsim in the background with a fresh image; sets box_pid and box_device.
start_box() {
  local image=$1 log=$2
  shift 2
  "$boxsim" --flash "$image" --flash-init -v "$@" >"$work/device" 2>"$log" &
  box_pid=$!
  pids+=("$box_pid")
  for _ in $(seq 1 100); do
    box_device=$(head -n 1 "$work/device" 2>/dev/null || true)
    [ -n "$box_device" ] && return 0
    kill -0 "$box_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "demo.sh: boxsim did not start:" >&2
  cat "$log" >&2
  exit 1
}

stop_box() {
  kill "$box_pid" 2>/dev/null || true
  wait "$box_pid" 2>/dev/null || true
}

# Says which ranges of an image are erased: user data, configuration, nothing else.
check_image() {
  local image=$1 include=$2
  local first=a1c00000 what="user data (a1c00000..a1ffffff)"
  if [ "$include" = 1 ]; then
    first=a1b00000
    what="user data and configuration (a1b00000..a1ffffff)"
  fi
  if "$boxsim" --verify-flash "$image" --erased "$first" a1ffffff; then
    echo "Flash check passed: $what erased;"
    if [ "$include" = 1 ]; then
      echo "  every byte outside that range is as before."
    else
      echo "  the configuration (a1b00000..a1bfffff) and every other byte are as before."
    fi
    return 0
  fi
  echo "Flash check FAILED for $what" >&2
  return 1
}

step "A simulated Box"
start_box "$work/flash.img" "$work/boxsim.log" --sector-ms 10
echo "boxsim is the Box on $box_device (flash image $work/flash.img, 16 MiB at a1000000)."

step "Erasing with zanowipe-cli"
cli_args=(--port "$box_device" --yes --timeout 120)
[ "$include_config" = 1 ] && cli_args+=(--include-config)
echo "+ zanowipe-cli ${cli_args[*]}"
set +e
(cd "$work" && "$root/$cli" "${cli_args[@]}")
status=$?
set -e
stop_box
if [ "$status" != 0 ]; then
  echo "zanowipe-cli ended with status $status. What the Box saw:" >&2
  tail -n 40 "$work/boxsim.log" >&2
  exit 1
fi

step "What the Box did (from boxsim's log)"
grep -v -e '] sent "' -e '] received "' "$work/boxsim.log" | sed 's/^boxsim //' || true

step "The read-back that proves it"
crc_line=$(grep -o 'received "crc32 [^"]*' "$work/boxsim.log" | head -n 1 | sed 's/^received "//; s/\\n$//')
crc_answer=$(grep -o 'crc32 of .*' "$work/boxsim.log" | head -n 1)
echo "The tool asked the console: $crc_line"
echo "The console answered with the $crc_answer"
echo "An erased byte is 0xff, and the CRC-32 of 4 MiB of 0xff is 7d5b6975 (of 5 MiB, ac9c6488):"
echo "only when the two agree does the tool say COMPLETE."

step "Checking the Box's flash byte for byte"
check_image "$work/flash.img" "$include_config"

step "A Box whose chip refuses every write"
echo "Its console prints exactly the success text; the read-back finds the data still there."
start_box "$work/protected.img" "$work/protected.log" --fast --power-on-delay 300 --write-protected
echo "+ zanowipe-cli --port $box_device --yes --quiet"
set +e
(cd "$work" && "$root/$cli" --port "$box_device" --yes --quiet)
status=$?
set -e
stop_box
echo "zanowipe-cli ended with status $status (FAILED is 5)."
if [ "$status" != 5 ]; then
  echo "demo.sh: expected FAILED (5) for a write-protected chip" >&2
  exit 1
fi
"$boxsim" --verify-flash "$work/protected.img" >/dev/null &&
  echo "Flash check: nothing was erased, as the read-back said."

if [ -z "${DISPLAY:-}" ]; then
  echo
  echo "No display (DISPLAY is not set): skipping the window. Done."
  exit 0
fi
if [ ! -x "$qt" ]; then
  echo
  echo "The window (zanowipe) was not built here (is Qt 6 installed?). Done."
  exit 0
fi

step "The window, on a fresh simulated Box"
mkdir -p "$work/window"
start_box "$work/window/flash.img" "$work/window/boxsim.log" \
  --ports-ini "$work/window/Zanowipe.ini" --com 1
cat <<TEXT
boxsim is the Box on $box_device; the window's COM1 leads to it (Zanowipe.ini in
$work/window). Click "Open COM": opening the port switches the simulated Box on. When
"Receiver connected" shows, click "Erase users data". Close the window when you are done.
TEXT
(cd "$work/window" && "$root/$qt") || true
stop_box
step "What the window did to the Box's flash"
if "$boxsim" --verify-flash "$work/window/flash.img" >/dev/null 2>&1; then
  echo "Nothing was erased."
elif check_image "$work/window/flash.img" 0 2>/dev/null; then
  :
elif check_image "$work/window/flash.img" 1 2>/dev/null; then
  :
else
  "$boxsim" --verify-flash "$work/window/flash.img" --erased a1c00000 a1ffffff || true
fi
