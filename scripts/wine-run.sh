#!/usr/bin/env bash
# Runs a Windows program of the MinGW build under Wine, in the private test prefix. CMake uses
# it as the cross-compiling emulator, for test discovery as well as for the tests.
#
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
#
# The prefix is $ZW_WINEPREFIX, else "wineprefix" in the build tree that holds PROGRAM (the
# nearest folder above it with a CMakeCache.txt), else ~/.cache/zanowipe/wineprefix. It is
# prepared once by scripts/wine-env.sh.
#
# ZW_WINE_COM_PTY=n  gives the program a pseudo-terminal as COMn, whose Linux end echoes
#                    every byte back (tests/wine/pty_peer.c); the port goes back to
#                    "missing" afterwards. Tests using it must not run in parallel with each
#                    other (CTest RESOURCE_LOCK wine_comN).
# ZW_WINE_SHIM=0     runs without the pty ioctl shim (tests/wine/pty_ioctl_shim.c), to see
#                    Wine's own behaviour on a pty.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM.exe [ARGS...]" >&2
  exit 2
fi

build_tree_of() {
  local dir
  dir=$(cd "$1" 2>/dev/null && pwd) || return 1
  while [ "$dir" != / ]; do
    [ -f "$dir/CMakeCache.txt" ] && { echo "$dir"; return 0; }
    dir=$(dirname "$dir")
  done
  return 1
}

prefix=${ZW_WINEPREFIX:-}
if [ -z "$prefix" ]; then
  if tree=$(build_tree_of "$(dirname "$1")") || tree=$(build_tree_of "$PWD"); then
    prefix="$tree/wineprefix"
  else
    prefix="${XDG_CACHE_HOME:-$HOME/.cache}/zanowipe/wineprefix"
  fi
fi
prefix=$("$here/wine-env.sh" "$prefix")

export WINEPREFIX="$prefix"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ "${ZW_WINE_SHIM:-1}" != 0 ]; then
  # $LIB is expanded by the dynamic linker: the 32- and the 64-bit Wine each load their copy.
  export LD_PRELOAD="$prefix/zw-tools/\$LIB/libzwptyshim.so${LD_PRELOAD:+ $LD_PRELOAD}"
fi

# Windows console output ends lines with CR LF; test discovery and log readers want LF.
run() {
  local rc=0
  "$@" | tr -d '\r' || rc=${PIPESTATUS[0]}
  return "$rc"
}

if [ -n "${ZW_WINE_COM_PTY:-}" ]; then
  n=$ZW_WINE_COM_PTY
  run "$prefix/zw-tools/pty_peer" --link "$prefix/com$n.link" --idle "/nonexistent/zw-com$n" \
    -- wine "$@"
else
  run wine "$@"
fi
