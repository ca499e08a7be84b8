#!/usr/bin/env bash
# Builds what a technician downloads, into build/packages/:
#   zanowipe_VERSION-1_ARCH.deb       Linux: the window, zanowipe-cli, zanowipe-boxsim
#   Zanowipe-VERSION-win32.zip        Windows: the static Zanowipe.exe and zanowipe-cli.exe
#   Zanowipe-VERSION-setup.exe        Windows: the installer (NSIS)
#
#   scripts/package.sh                  all three
#   scripts/package.sh linux|windows    one platform's
#   ZW_PACKAGE_BUILD=DIR scripts/package.sh   build trees DIR/linux and DIR/windows
#                                             (default build/package), results in DIR/../packages
#
# Release builds without the test suites, in build trees of their own.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

platforms=("$@")
[ ${#platforms[@]} -gt 0 ] || platforms=(linux windows)
for p in "${platforms[@]}"; do
  case "$p" in
    linux | windows) ;;
    -h | --help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package.sh: unknown platform '$p' (linux, windows)" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh

trees=${ZW_PACKAGE_BUILD:-build/package}
mkdir -p "$trees" "$(dirname "$trees")/packages"
trees=$(cd "$trees" && pwd)
out=$(cd "$(dirname "$trees")/packages" && pwd)
jobs=$(nproc)
made=()

for p in "${platforms[@]}"; do
  tree=$trees/$p
  echo "=== $p: configure and build ($tree)"
  args=(-S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZW_BUILD_TESTS=OFF)
  [ "$p" = windows ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake")
  cmake "${args[@]}" >/dev/null
  cmake --build "$tree" -j"$jobs"
  if [ "$p" = linux ]; then
    echo "=== linux: the Debian package"
    (cd "$tree" && cpack -G DEB -B "$tree/cpack")
    for f in "$tree"/cpack/*.deb; do
      cp "$f" "$out/"
      made+=("$out/$(basename "$f")")
    done
  else
    # The build made them (target windows-packages).
    for f in "$tree"/packages/*; do
      cp "$f" "$out/"
      made+=("$out/$(basename "$f")")
    done
  fi
done

echo
echo "Packages in $out:"
for f in "${made[@]}"; do
  printf '  %-40s %10s bytes\n' "$(basename "$f")" "$(stat -c %s "$f")"
done
