#!/usr/bin/env bash
# Takes a screenshot of each windowed front end on a virtual X display:
#   docs/screenshots/qt.png     the Linux program (Qt)
#   docs/screenshots/win32.png  Zanowipe.exe under Wine, in a Wine virtual desktop (which
#                               draws the window frame; there is no window manager here)
#
#   scripts/screenshots.sh [LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]]
# Defaults: build/linux and build/windows (the presets). Each program runs in a scratch
# directory whose settings file puts the window near the top-left corner.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
linux_build=$(cd "${1:-build/linux}" && pwd)
windows_build=$(cd "${2:-build/windows}" && pwd)
out="$root/docs/screenshots"
mkdir -p "$out"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '[APP]\r\nTOP=12\r\nLEFT=12\r\nCOM PORT=1\r\n' >"$work/Zanowipe.ini"

# Runs on the virtual display: starts a program, waits for its window, saves the window.
#   shoot.sh OUTPUT.png WINDOW-NAME SETTLE-SECONDS PROGRAM [ARGS...]
cat >"$work/shoot.sh" <<'INNER'
#!/usr/bin/env bash
set -u
png=$1 name=$2 settle=$3
shift 3
"$@" &
pid=$!
id=""
for _ in $(seq 1 150); do
  id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -1)
  [ -n "$id" ] && break
  sleep 0.2
done
rc=1
if [ -n "$id" ]; then
  sleep "$settle"
  import -window "$id" "$png" && rc=0
else
  echo "no window named '$name'" >&2
fi
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
exit $rc
INNER
chmod +x "$work/shoot.sh"

shoot_qt() {
  local program="$linux_build/app/zanowipe"
  [ -x "$program" ] || { echo "skipped qt.png: $program not built" >&2; return 0; }
  (cd "$work" && QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 640x480x24" \
    "$work/shoot.sh" "$out/qt.png" "Users data cleaner" 1 "$program")
  echo "wrote $out/qt.png"
}

shoot_win32() {
  local program="$windows_build/app/Zanowipe.exe"
  [ -f "$program" ] || { echo "skipped win32.png: $program not built" >&2; return 0; }
  local prefix
  prefix=$("$root/scripts/wine-env.sh" "$windows_build/wineprefix-gui")
  export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # A session left from preparing the prefix has no display.
  timeout 30 wineserver -w || wineserver -k || true
  (cd "$work" && xvfb-run -a -s "-screen 0 640x480x24" \
    "$work/shoot.sh" "$out/win32.png" "Zanowipe - Wine desktop" 3 \
    wine explorer /desktop=Zanowipe,340x260 "$program")
  wineserver -k 2>/dev/null || true
  echo "wrote $out/win32.png"
}

shoot_qt
shoot_win32
