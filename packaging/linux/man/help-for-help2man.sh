#!/usr/bin/env bash
# A program's --help as help2man reads it, for the manual page of the program installed as NAME:
#
#   help-for-help2man.sh NAME PROGRAM --help
#
# help2man reads only what the program prints; this evens out where the programs' own text and
# help2man's reading of it part:
#  - the name the program calls itself becomes NAME (boxsim is installed as zanowipe-boxsim);
#  - a usage wrapped over several lines is joined, and each further form starts "or: NAME", so
#    the whole usage lands in SYNOPSIS and none of it in DESCRIPTION;
#  - options under group headings with no "Options:" above them get one, so they land in
#    OPTIONS;
#  - the exit statuses start a section of their own, EXIT STATUS.
# Ends with the program's status (empty output, which help2man refuses) when it fails.
set -euo pipefail

name=${1:?usage: help-for-help2man.sh NAME PROGRAM ARG...}
program=${2:?usage: help-for-help2man.sh NAME PROGRAM ARG...}
shift 2
own=$(basename "$program")
text=$("$program" "$@")

if [ "$own" != "$name" ]; then
  text=$(printf '%s\n' "$text" |
    sed "s/\(^\|[^[:alnum:]_./-]\)${own}\([^[:alnum:]_-]\|$\)/\1${name}\2/g")
fi

printf '%s\n' "$text" |
  awk -v name="$name" '
    { line[++n] = $0 }
    END {
      # The paragraph of the first option, when nothing has said "Options:" before it.
      options_at = 0
      for (i = 1; i <= n; i++) {
        if (line[i] ~ /^Options:/) break
        if (line[i] ~ /^ +-/) {
          for (options_at = i; options_at > 1 && line[options_at - 1] != ""; options_at--) {}
          break
        }
      }
      in_usage = 0
      for (i = 1; i <= n; i++) {
        if (in_usage && line[i] ~ /^[ \t]+[^ \t]/) {
          rest = line[i]
          sub(/^[ \t]+/, "", rest)
          if (rest == name || index(rest, name " ") == 1) {
            print usage
            usage = "  or: " rest
          } else {
            usage = usage " " rest
          }
          continue
        }
        if (in_usage) {
          print usage
          in_usage = 0
        }
        if (line[i] ~ /^Usage: /) {
          in_usage = 1
          usage = line[i]
          continue
        }
        if (i == options_at) print "Options:\n"
        if (line[i] ~ /^Exit status/) {
          # A paragraph of its own under the heading, not a sub-heading of the last section.
          print "*Exit status*\n"
          print line[i] "\n"
          continue
        }
        print line[i]
      }
      if (in_usage) print usage
    }'
