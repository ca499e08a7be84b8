#!/usr/bin/env bash
# Prepares the private Wine prefix the Windows build's tests run in, and prints its path.
#
#   scripts/wine-env.sh [PREFIX]
#
# PREFIX defaults to $ZW_WINEPREFIX. Safe to run again and from parallel tests: the work is
# done once, under a lock, and redone only when this script or a helper source changes.
#
# What the prefix guarantees:
# - COM1..COM8 map (HKLM\Software\Wine\Ports) to the symlinks PREFIX/com1.link ..
#   PREFIX/com8.link, which point to a path that does not exist. Wine maps every COM port
#   the registry leaves out to a /dev/ttyS* it finds, and /dev/ttyS0 is the system console
#   here: so every port a test may touch is mapped, and none of them reaches a /dev/ttyS*.
#   (Wine still gives COM9 and above to /dev/ttyS*; nothing may open those.)
#   A test maps COMn to its own pseudo-terminal by re-pointing PREFIX/comN.link before it
#   starts the Windows program (scripts/wine-run.sh does that for ZW_WINE_COM_PTY=n).
# - No crash dialog and no debugger: a crashing test program just ends with a failure code.
# - PREFIX/zw-tools holds the host helpers built from tests/wine: the pty ioctl shim in a
#   32- and a 64-bit copy (lib/i386-linux-gnu, lib/x86_64-linux-gnu, for LD_PRELOAD's $LIB)
#   and the pseudo-terminal peer.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
sources="$here/../tests/wine"

prefix=${1:-${ZW_WINEPREFIX:-}}
if [ -z "$prefix" ]; then
  echo "usage: $0 PREFIX (or set ZW_WINEPREFIX)" >&2
  exit 2
fi
mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No installer dialogs for Mono or Gecko: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY  # console programs only; never pop up anything

missing_port() { echo "/nonexistent/zw-com$1"; }

stamp_of_sources() {
  cat "${BASH_SOURCE[0]}" "$sources"/pty_ioctl_shim.c "$sources"/pty_peer.c | sha1sum | cut -d' ' -f1
}

build_tools() {
  local tools="$prefix/zw-tools"
  mkdir -p "$tools/lib/i386-linux-gnu" "$tools/lib/x86_64-linux-gnu"
  gcc -m32 -shared -fPIC -O2 -Wall -Wextra -Werror -o "$tools/lib/i386-linux-gnu/libzwptyshim.so" \
    "$sources/pty_ioctl_shim.c" -ldl
  gcc -m64 -shared -fPIC -O2 -Wall -Wextra -Werror \
    -o "$tools/lib/x86_64-linux-gnu/libzwptyshim.so" "$sources/pty_ioctl_shim.c" -ldl
  gcc -O2 -Wall -Wextra -Werror -o "$tools/pty_peer" "$sources/pty_peer.c"
}

write_registry() {
  local reg="$prefix/zw-settings.reg"
  {
    echo 'REGEDIT4'
    echo
    echo '[HKEY_LOCAL_MACHINE\Software\Wine\Ports]'
    for n in 1 2 3 4 5 6 7 8; do echo "\"COM$n\"=\"$prefix/com$n.link\""; done
    echo
    echo '[HKEY_CURRENT_USER\Software\Wine\WineDbg]'
    echo '"ShowCrashDialog"=dword:00000000'
    for key in 'Microsoft' 'Wow6432Node\Microsoft'; do
      echo
      echo "[HKEY_LOCAL_MACHINE\\Software\\$key\\Windows NT\\CurrentVersion\\AeDebug]"
      echo '"Debugger"=""'
      echo '"Auto"="0"'
    done
  } >"$reg"
  wine regedit /S "$(winepath -w "$reg" 2>/dev/null 9>&-)" >/dev/null 2>&1 9>&-
}

ensure_prefix() {
  local stamp="$prefix/.zw-ready"
  local want
  want=$(stamp_of_sources)
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && return 0

  build_tools
  mkdir -p "$prefix"
  for n in 1 2 3 4 5 6 7 8; do
    [ -L "$prefix/com$n.link" ] || ln -sfn "$(missing_port "$n")" "$prefix/com$n.link"
  done
  wineboot -i >/dev/null 2>&1 9>&-
  write_registry
  # The port symlinks are made when Wine's device manager starts, so the session must end
  # and start again. Programs started before this update may still run in it: let them end
  # (new ones wait for the lock) rather than kill them, unless one hangs.
  timeout 120 wineserver -w 9>&- || wineserver -k 9>&-
  wine cmd /c exit >/dev/null 2>&1 9>&- || true
  for n in 1 2 3 4 5 6 7 8; do
    local target
    target=$(readlink "$prefix/dosdevices/com$n" || true)
    if [ "$target" != "$prefix/com$n.link" ]; then
      echo "wine-env: COM$n maps to '$target', not to $prefix/com$n.link" >&2
      exit 1
    fi
  done
  echo "$want" >"$stamp"
}

# Wine's server outlives the commands above; none of them may inherit (and so hold) the lock.
exec 9>"$prefix.lock"
flock 9
ensure_prefix
echo "$prefix"
