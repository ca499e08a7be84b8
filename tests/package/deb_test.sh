#!/usr/bin/env bash
# The Debian package as a technician gets it: built by CPack from this build tree, unpacked
# into an empty root, and run from there with nothing of the build tree in reach.
#
#   deb_test.sh BUILD_DIR
#
# Exit status 77 (skipped) when this machine cannot build a .deb (cpack, dpkg-deb or
# dpkg-shlibdeps missing).
set -euo pipefail

build=${1:?usage: deb_test.sh BUILD_DIR}
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (Debian packages cmake and dpkg-dev)"
    exit 77
  fi
done

work=$(mktemp -d /tmp/zw-deb-test.XXXXXX)
box_pid=
cleanup() {
  [ -z "$box_pid" ] || { kill "$box_pid" 2>/dev/null || true; wait "$box_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

echo "== building the package from $build"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log"
  echo "FAIL: cpack -G DEB --config $build/CPackConfig.cmake"
  exit 1
}
mapfile -t debs < <(find "$work/cpack" -maxdepth 2 -name '*.deb')
if [ ${#debs[@]} -ne 1 ]; then
  cat "$work/cpack.log"
  echo "FAIL: expected one .deb, found ${#debs[@]}: ${debs[*]:-none}"
  exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

echo "== control fields"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zanowipe ] || fail "Package is '$(field Package)', not zanowipe"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
case "$(field Version)" in
  "$version" | "$version"-*) ;;
  *) fail "Version is '$(field Version)', the project's is '$version'" ;;
esac
depends=$(field Depends)
echo "Depends: $depends"
for lib in libc6 libstdc++6; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: '$depends'"
done

echo "== unpacking into an empty root"
root=$work/root
dpkg-deb -x "$deb" "$root"
with_qt=0
[ -e "$root/usr/bin/zanowipe" ] && with_qt=1
expected=(usr/bin/zanowipe-cli usr/bin/zanowipe-boxsim usr/share/doc/zanowipe/README.md)
if [ "$with_qt" = 1 ]; then
  expected+=(usr/share/applications/zanowipe.desktop
    usr/share/icons/hicolor/16x16/apps/zanowipe.png
    usr/share/icons/hicolor/32x32/apps/zanowipe.png)
  [[ "$depends" == *libqt6widgets6* ]] || fail "Depends lacks libqt6widgets6: '$depends'"
else
  echo "(this build has no Qt window: the package holds the command line only)"
fi
for f in "${expected[@]}"; do
  [ -f "$root/$f" ] || fail "the package lacks /$f"
done
for f in "$root"/usr/bin/*; do
  [ -x "$f" ] || fail "/usr/bin/$(basename "$f") is not executable"
done

if [ "$with_qt" = 1 ]; then
  desktop=$root/usr/share/applications/zanowipe.desktop
  grep -qx 'Exec=zanowipe' "$desktop" || fail "the desktop entry does not start zanowipe"
  grep -qx 'Icon=zanowipe' "$desktop" || fail "the desktop entry does not name the icon zanowipe"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
  fi
  for size in 16 32; do
    got=$(identify -format '%wx%h' "$root/usr/share/icons/hicolor/${size}x${size}/apps/zanowipe.png" 2>/dev/null || echo none)
    [ "$got" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $got"
  done
  # Every library the window needs is a system library the Depends line brings.
  missing=$(env -u LD_LIBRARY_PATH ldd "$root/usr/bin/zanowipe" | grep 'not found' || true)
  [ -z "$missing" ] || fail "zanowipe needs libraries not found: $missing"

  # The window starts from the unpacked root (offscreen: no display needed) and is still up
  # after a few seconds; timeout's 124 says it had to be stopped.
  mkdir -p "$work/window"
  set +e
  (cd "$work/window" && env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen \
    timeout 4 "$root/usr/bin/zanowipe") >"$work/window.log" 2>&1
  status=$?
  set -e
  [ "$status" = 124 ] || fail "zanowipe ended by itself with status $status: $(cat "$work/window.log")"
fi

echo "== zanowipe-cli --help from the unpacked root"
if help=$(cd "$work" && env -u LD_LIBRARY_PATH "$root/usr/bin/zanowipe-cli" --help 2>&1); then
  [[ "$help" == "Usage: zanowipe-cli"* ]] || fail "zanowipe-cli --help printed: $help"
else
  fail "zanowipe-cli --help ended with status $?: $help"
fi

echo "== the packaged programs erase the packaged simulated Box"
env -u LD_LIBRARY_PATH "$root/usr/bin/zanowipe-boxsim" --flash "$work/flash.img" --flash-init \
  --fast >"$work/device" 2>"$work/boxsim.log" &
box_pid=$!
device=
for _ in $(seq 1 100); do
  device=$(head -n 1 "$work/device" 2>/dev/null || true)
  [ -n "$device" ] && break
  sleep 0.1
done
if [ -z "$device" ]; then
  cat "$work/boxsim.log"
  fail "zanowipe-boxsim did not print its device"
else
  set +e
  (cd "$work" && env -u LD_LIBRARY_PATH "$root/usr/bin/zanowipe-cli" --port "$device" --yes \
    --timeout 120 --quiet) >"$work/cli.log" 2>&1
  status=$?
  set -e
  cat "$work/cli.log"
  [ "$status" = 0 ] || fail "zanowipe-cli --port $device --yes ended with status $status"
  kill "$box_pid" 2>/dev/null || true
  wait "$box_pid" 2>/dev/null || true
  box_pid=
  "$root/usr/bin/zanowipe-boxsim" --verify-flash "$work/flash.img" --erased a1c00000 a1ffffff ||
    fail "the flash is not exactly erased in a1c00000..a1ffffff"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed for $(basename "$deb")"
  exit 1
fi
echo "PASS: $(basename "$deb")"
