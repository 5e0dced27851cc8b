#!/bin/sh
# Every shell script of the tree passes shellcheck: the scripts that build, test,
# install and benchmark the program are code too, and their slips (a word split, a
# condition that runs its else on success) show only on the machine where they bite.
set -eu
cd "$(dirname "$0")/.."
scripts=$(find . -path './build*' -prune -o -path './.git' -prune -o -type f -print \
  | while read -r file; do
      case $(head -c 64 "$file" | head -n 1) in '#!'*sh*) echo "$file" ;; esac
    done | sort)
[ -n "$scripts" ] || { echo "no shell scripts found" >&2; exit 1; }
# shellcheck disable=SC2086  # one path per word; none holds a space
shellcheck $scripts
