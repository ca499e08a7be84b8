#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests and the demo need and this
# machine lacks. Safe to run again: it does nothing when everything is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang clang-format libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libsimpleini-dev nlohmann-json3-dev libcli11-dev
  g++-mingw-w64-i686-posix mingw-w64-tools
  wine wine32:i386 wine64
  gcc-multilib
  xvfb xauth x11-utils xdotool imagemagick fonts-wine fonts-liberation2
  procps nsis dpkg-dev unzip lintian help2man man-db bash-completion
  ser2net
  qt6-serialport-dev libserialport-dev python3-serial
)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# wine32 is an i386 package: the architecture must be known to dpkg first.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  need_update=1
fi

# One query for the whole list, so a run with nothing missing costs a few milliseconds. A
# package is there when some architecture of it is installed, or the one asked for
# ("wine32:i386").
declare -A installed=()
while read -r state name; do
  [ "$state" = ii ] || continue
  installed[$name]=1
  installed[${name%%:*}]=1
done < <(dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' "${packages[@]}" 2>/dev/null || true)

missing=()
for p in "${packages[@]}"; do
  [ -n "${installed[$p]:-}" ] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends \
    "${missing[@]}"
elif [ "${need_update:-0}" = 1 ]; then
  "${sudo_cmd[@]}" apt-get update -q
fi

# The tests start ser2net themselves, each with a configuration of its own on a pty. The
# system service a fresh install starts serves what /etc/ser2net.yaml names, /dev/ttyS* by
# default (often the system console): it is stopped and kept from starting at boot. A ser2net
# that was there before is left as it was.
if [[ " ${missing[*]} " == *" ser2net "* ]] && command -v systemctl >/dev/null 2>&1; then
  "${sudo_cmd[@]}" systemctl disable --now ser2net.service >/dev/null 2>&1 || true
fi
