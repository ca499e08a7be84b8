#!/usr/bin/env bash
# The Windows installer, run silently under Wine in a prefix of its own: it puts the programs
# where /D says, with a Start menu entry and an uninstaller; the installed command line runs;
# the silent uninstaller removes the programs and keeps the technician's Zanowipe.ini.
#
#   windows_installer_test.sh INSTALLER STAGE_DIR
set -euo pipefail

installer=${1:?usage: windows_installer_test.sh INSTALLER STAGE_DIR}
stage=${2:?usage: windows_installer_test.sh INSTALLER STAGE_DIR}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../../scripts/wine-run.sh
[ -f "$installer" ] || { echo "FAIL: no installer at $installer (target windows-packages)"; exit 1; }

work=$(mktemp -d /tmp/zw-installer-test.XXXXXX)
export ZW_WINEPREFIX=$work/prefix
cleanup() {
  WINEPREFIX=$ZW_WINEPREFIX wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

echo "$(basename "$installer"): $(stat -c %s "$installer") bytes"
echo "== $(basename "$installer") /S /D=C:\\Zanowipe"
set +e
"$wine_run" "$installer" /S '/D=C:\Zanowipe'
status=$?
set -e
[ "$status" = 0 ] || fail "the silent installer ended with status $status"
# The wineserver outlives the installer; let it settle so every file is written.
WINEPREFIX=$ZW_WINEPREFIX wineserver -w 2>/dev/null || true

dir=$ZW_WINEPREFIX/drive_c/Zanowipe
for exe in Zanowipe.exe zanowipe-cli.exe; do
  if [ -f "$dir/$exe" ]; then
    cmp -s "$stage/$exe" "$dir/$exe" || fail "C:\\Zanowipe\\$exe differs from $stage/$exe"
  else
    fail "C:\\Zanowipe\\$exe was not installed (C:\\Zanowipe holds: $(ls "$dir" 2>/dev/null | tr '\n' ' '))"
  fi
done
[ -f "$dir/Uninstall.exe" ] || fail "C:\\Zanowipe\\Uninstall.exe was not written"
shortcut=$(find "$ZW_WINEPREFIX/drive_c/users" -path '*Start Menu/Programs/Zanowipe.lnk' 2>/dev/null | head -n 1)
[ -n "$shortcut" ] || fail "no Start menu entry Zanowipe.lnk"

echo "== C:\\Zanowipe\\zanowipe-cli.exe --help"
if help=$("$wine_run" "$dir/zanowipe-cli.exe" --help 2>&1); then
  [[ "$help" == *"Usage: zanowipe-cli"* ]] || fail "the installed zanowipe-cli.exe --help printed: $help"
else
  fail "the installed zanowipe-cli.exe --help ended with status $?: $help"
fi

echo "== C:\\Zanowipe\\Uninstall.exe /S, with a Zanowipe.ini beside the programs"
printf '[APP]\r\nCOM PORT=3\r\n' >"$dir/Zanowipe.ini"
# _?= runs the uninstaller in place instead of from a copy in TEMP that it would not wait for.
set +e
"$wine_run" "$dir/Uninstall.exe" /S '_?=C:\Zanowipe'
status=$?
set -e
[ "$status" = 0 ] || fail "the silent uninstaller ended with status $status"
WINEPREFIX=$ZW_WINEPREFIX wineserver -w 2>/dev/null || true
for exe in Zanowipe.exe zanowipe-cli.exe; do
  [ ! -e "$dir/$exe" ] || fail "the uninstaller left C:\\Zanowipe\\$exe"
done
[ -f "$dir/Zanowipe.ini" ] || fail "the uninstaller removed the settings file Zanowipe.ini"
[ -z "$shortcut" ] || [ ! -e "$shortcut" ] || fail "the uninstaller left the Start menu entry"

[ "$failures" = 0 ] || exit 1
echo "PASS: $(basename "$installer")"
