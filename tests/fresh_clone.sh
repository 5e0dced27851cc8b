#!/usr/bin/env bash
# The suite as a new developer meets it: a fresh clone of this repository's HEAD,
# `make test` there with no display, then again in the same clone with DISPLAY set
# to a running X server (a virtual one started here), as on a desktop. The second
# run also shows that the suite passes twice in a row.
#
#   tests/fresh_clone.sh [--keep]
#
# Prints each run's summary and ends non-zero when either run fails.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
keep=0
[ "${1:-}" = "--keep" ] && keep=1
work=$(mktemp -d "${TMPDIR:-/tmp}/qvr-fresh-XXXXXX")
xvfb_pid=""
# shellcheck disable=SC2317  # called by the trap below
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  if [ "$keep" -eq 0 ]; then rm -rf "$work"; else echo "kept $work"; fi
}
trap cleanup EXIT

git clone -q "$here" "$work/clone" || exit 2
cd "$work/clone" || exit 2

run() { # NAME: make test with the environment this shell has now
  echo "== make test, $1"
  local start=$SECONDS
  if make test > "$work/$1.log" 2>&1; then
    grep -E "tests passed|tests failed" "$work/$1.log" | tail -n 1
    echo "   passed in $((SECONDS - start)) s"
    return 0
  fi
  tail -n 40 "$work/$1.log"
  echo "   FAILED after $((SECONDS - start)) s (log: $work/$1.log)"
  keep=1
  return 1
}

status=0
( unset DISPLAY WAYLAND_DISPLAY; run no-display ) || status=1

# A display number nobody uses, for an X server of our own.
display=""
for n in $(seq 90 140); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=$n; break; }
done
[ -n "$display" ] || { echo "no free display number" >&2; exit 2; }
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
( export DISPLAY=":$display"; run "display-:$display" ) || status=1
exit $status
