#!/usr/bin/env bash
# The Debian package as a technician gets it: built by CPack from this build tree, unpacked
# into an empty root, and run from there with nothing of the build tree in reach.
#
#   deb_test.sh BUILD_DIR
#
# Exit status 77 (skipped) when this machine cannot build or check a .deb (cpack, dpkg-deb,
# dpkg-shlibdeps, lintian, man or bash-completion missing: scripts/install-deps.sh installs them).
set -euo pipefail

build=${1:?usage: deb_test.sh BUILD_DIR}
for tool in cpack dpkg-deb dpkg-shlibdeps lintian man; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done
bash_completion=/usr/share/bash-completion/bash_completion
if [ ! -f "$bash_completion" ]; then
  echo "SKIP: $bash_completion is missing (Debian package bash-completion)"
  exit 77
fi

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
docs=usr/share/doc/zanowipe
man1=usr/share/man/man1
completion=usr/share/bash-completion/completions/zanowipe-cli
expected=(usr/bin/zanowipe-cli usr/bin/zanowipe-boxsim "$docs/README.md" "$docs/copyright"
  "$docs/changelog.Debian.gz" "$man1/zanowipe-cli.1.gz" "$man1/zanowipe-boxsim.1.gz" "$completion")
if [ "$with_qt" = 1 ]; then
  expected+=(usr/share/applications/zanowipe.desktop "$man1/zanowipe.1.gz"
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

echo "== lintian"
# Errors and warnings fail; each override in the package says why its tag does not apply.
status=0
lintian --fail-on error,warning --display-info "$deb" >"$work/lintian.log" 2>&1 || status=$?
grep -v 'running with root' "$work/lintian.log" || true
[ "$status" = 0 ] || fail "lintian reports errors or warnings for $(basename "$deb") (status $status)"
changelog_version=$(zcat "$root/$docs/changelog.Debian.gz" >"$work/changelog" &&
  dpkg-parsechangelog -l "$work/changelog" -S Version) || changelog_version="(none)"
[ "$changelog_version" = "$(field Version)" ] ||
  fail "changelog.Debian.gz is for version '$changelog_version', the package is '$(field Version)'"

echo "== manual pages"
# A page as a terminal shows it, one section a time: section PAGE NAME.
render() { MANWIDTH=200 man --warnings -l "$1" 2>"$work/man.err"; }
section() { awk -v want="$2" '/^[A-Z]/ { in_it = ($0 == want); next } in_it' "$1"; }
# The long options a --help on standard input describes: those that start its indented lines.
option_tags() { grep -E '^ +-' | sed -E 's/^ +//; s/  .*//' | grep -o -- '--[a-zA-Z][-a-zA-Z0-9]*' | sort -u; }
# The pages made from --help: each holds the program's whole usage in SYNOPSIS and every option
# of its --help under OPTIONS, whatever --help says today.
for program in zanowipe-cli zanowipe-boxsim; do
  page=$root/$man1/$program.1.gz
  [ -f "$page" ] || continue # already failed above
  help=$(env -u LD_LIBRARY_PATH "$root/usr/bin/$program" --help 2>&1) || true
  render "$page" >"$work/$program.man" || fail "man -l $page ended with status $?"
  [ ! -s "$work/man.err" ] || fail "man -l $page warns: $(cat "$work/man.err")"
  for s in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
    grep -qx "$s" "$work/$program.man" || fail "$program(1) has no section $s"
  done
  usage_options=$(printf '%s\n' "$help" | sed -n '/^Usage:/,/^$/p' | grep -o -- '--[a-zA-Z][-a-zA-Z0-9]*' | sort -u)
  # Each section read once: grep -q ending a pipe early would fail it under pipefail.
  synopsis=$(section "$work/$program.man" SYNOPSIS)
  options=$(section "$work/$program.man" OPTIONS)
  for option in $usage_options; do
    grep -q -- "$option" <<<"$synopsis" ||
      fail "$program(1): the usage's $option is not in SYNOPSIS"
  done
  help_options=$(printf '%s\n' "$help" | option_tags)
  [ -n "$help_options" ] || fail "$program --help names no options: $help"
  for option in $help_options; do
    grep -qE -- "^ +(-[[:alnum:]], +)?$option([ ,=]|$)" <<<"$options" ||
      fail "$program(1) does not describe $option under OPTIONS"
  done
done
if [ "$with_qt" = 1 ] && [ -f "$root/$man1/zanowipe.1.gz" ]; then
  render "$root/$man1/zanowipe.1.gz" >"$work/zanowipe.man" || fail "man -l zanowipe.1.gz failed"
  [ ! -s "$work/man.err" ] || fail "man -l zanowipe.1.gz warns: $(cat "$work/man.err")"
  grep -q 'Zanowipe.ini' "$work/zanowipe.man" || fail "zanowipe(1) does not name Zanowipe.ini"
fi

echo "== bash completion of zanowipe-cli"
# complete WORD...: what the packaged completion offers for the last WORD of
# "zanowipe-cli WORD...", one a line. The command word is the packaged program, whose --help
# gives the options.
complete_cli() {
  # shellcheck disable=SC2016 # expanded by the inner bash
  (cd "$work" && env -u LD_LIBRARY_PATH bash -c '
    source "$1"; source "$2"; shift 2
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _zanowipe_cli "$1" "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$bash_completion" "$root/$completion" \
    "$root/usr/bin/zanowipe-cli" "$@")
}
touch "$work/records.jsonl"
cli_options=$(env -u LD_LIBRARY_PATH "$root/usr/bin/zanowipe-cli" --help | option_tags)
if [ ! -f "$root/$completion" ]; then
  echo "(no completion to try)"
else
  # words | offers expected among others ("<options>": every option of --help; "<none>": nothing
  # at all) | an offer that must not come (a pattern)
  while IFS='|' read -r words expected unwanted; do
    eval "set -- $words"
    got=$(complete_cli "$@") || true
    for want in $expected; do
      case $want in
        "<none>") [ -z "$got" ] || fail "completing 'zanowipe-cli $words' offers: $got"; continue ;;
        "<options>") want=$cli_options ;;
      esac
      for w in $want; do
        grep -qx -- "$w" <<<"$got" || fail "completing 'zanowipe-cli $words' does not offer $w: $got"
      done
    done
    if [ -n "$unwanted" ] && grep -q -- "$unwanted" <<<"$got"; then
      fail "completing 'zanowipe-cli $words' offers $unwanted: $got"
    fi
  done <<'CASES'
''|<options>|COM
--po|--port|--record
--port ''|COM1 COM8|/dev/ttyS
--port=CO|COM1 COM8|^--
--record reco|records.jsonl|^--
--timeout ''|<none>|
--yes --loop -|<options>|COM1
CASES

  # The adapters plugged in, on a /dev of its own: a tmpfs in a private mount namespace (needs
  # the privilege to make one), with empty files where the devices would be. ttyS0 is there to
  # be left out; no device is opened.
  if unshare -m true 2>/dev/null; then
    # shellcheck disable=SC2016 # expanded by the inner bash
    got=$(unshare -m bash -c '
      mount -t tmpfs none /dev && ln -s /proc/self/fd /dev/fd && mkdir -p /dev/serial/by-id &&
        touch /dev/null /dev/ttyUSB0 /dev/ttyACM0 /dev/ttyS0 &&
        ln -s ../../ttyUSB0 /dev/serial/by-id/usb-Maker_Adapter_A1-if00-port0 || exit 1
      source "$1"; source "$2"
      COMP_WORDS=(zanowipe-cli --port /dev/); COMP_CWORD=2
      COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
      _zanowipe_cli zanowipe-cli /dev/ --port
      printf "%s\n" "${COMPREPLY[@]}"' _ "$bash_completion" "$root/$completion") || true
    for w in /dev/ttyUSB0 /dev/ttyACM0 /dev/serial/by-id/usb-Maker_Adapter_A1-if00-port0; do
      grep -qx -- "$w" <<<"$got" || fail "completing 'zanowipe-cli --port /dev/' does not offer $w: $got"
    done
    ! grep -q ttyS <<<"$got" || fail "completing 'zanowipe-cli --port /dev/' offers a ttyS: $got"
  else
    echo "(no private mount namespace here: the adapters' completion is not tried)"
  fi
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
