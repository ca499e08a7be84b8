#!/usr/bin/env bash
# Runs a windowed program of the MinGW build under Wine on a private virtual X display, in a
# prefix of its own ("wineprefix-gui" in the build tree), prepared by scripts/wine-env.sh with
# every COM port mapped to a path that does not exist. CMake uses it as the emulator of the
# windowed tests, for discovery as well as for the tests.
#
#   tests/gui/wine/xvfb-wine-run.sh PROGRAM.exe [ARGS...]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../../.." && pwd)

if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM.exe [ARGS...]" >&2
  exit 2
fi

tree=$(cd "$(dirname "$1")" && pwd)
while [ "$tree" != / ] && [ ! -f "$tree/CMakeCache.txt" ]; do tree=$(dirname "$tree"); done
[ "$tree" != / ] || tree="${XDG_CACHE_HOME:-$HOME/.cache}/zanowipe"

prefix=$("$root/scripts/wine-env.sh" "${ZW_WINEPREFIX_GUI:-$tree/wineprefix-gui}")
export WINEPREFIX="$prefix"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

# A Wine session left from preparing the prefix runs without a display; windows opened in it
# would never reach the virtual screen. Start a session of our own.
timeout 30 wineserver -w || wineserver -k || true

# Windows console output ends lines with CR LF; test discovery and log readers want LF.
rc=0
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" wine "$@" | tr -d '\r' || rc=${PIPESTATUS[0]}
exit "$rc"
