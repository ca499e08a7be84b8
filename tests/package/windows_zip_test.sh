#!/usr/bin/env bash
# The Windows zip holds exactly the two static programs, byte for byte as staged, and the
# unzipped program runs under Wine by itself (no DLL of the build beside it).
#
#   windows_zip_test.sh ZIP STAGE_DIR
set -euo pipefail

zip=${1:?usage: windows_zip_test.sh ZIP STAGE_DIR}
stage=${2:?usage: windows_zip_test.sh ZIP STAGE_DIR}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[ -f "$zip" ] || { echo "FAIL: no zip at $zip (target windows-packages)"; exit 1; }
command -v unzip >/dev/null || { echo "SKIP: unzip is not installed"; exit 77; }

work=$(mktemp -d /tmp/zw-zip-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

echo "$(basename "$zip"): $(stat -c %s "$zip") bytes"
listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listed" = "Zanowipe.exe zanowipe-cli.exe " ] || fail "the zip holds '$listed'"
unzip -q "$zip" -d "$work/unzipped"
for exe in Zanowipe.exe zanowipe-cli.exe; do
  cmp -s "$stage/$exe" "$work/unzipped/$exe" || fail "$exe in the zip differs from $stage/$exe"
  # A static program imports no MinGW runtime DLL.
  if command -v i686-w64-mingw32-objdump >/dev/null; then
    dlls=$(i686-w64-mingw32-objdump -p "$work/unzipped/$exe" | sed -n 's/^\s*DLL Name: //p' |
      grep -i -E 'libgcc|libstdc|libwinpthread' || true)
    [ -z "$dlls" ] || fail "$exe imports $dlls"
  fi
done

# The prefix is the test's own, so nothing of it outlives the test.
export ZW_WINEPREFIX=$work/prefix
if help=$("$here/../../scripts/wine-run.sh" "$work/unzipped/zanowipe-cli.exe" --help 2>&1); then
  [[ "$help" == *"Usage: zanowipe-cli"* ]] || fail "zanowipe-cli.exe --help printed: $help"
else
  fail "zanowipe-cli.exe --help from the zip ended with status $?: $help"
fi
WINEPREFIX=$ZW_WINEPREFIX wineserver -k 2>/dev/null || true

[ "$failures" = 0 ] || exit 1
echo "PASS: $(basename "$zip")"
