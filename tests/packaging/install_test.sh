#!/bin/sh
# make install and make uninstall of BUILD's program for a user whose home folder's
# path has a space: the desktop entry names the command so that the desktop can run
# it, only lower-case ".qvr" files are request files, and uninstall leaves nothing
# of the program behind, the executable a self-update replaced included.
set -eu
build=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/qvr install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export HOME="$tmp/home of me" XDG_DATA_HOME="$tmp/home of me/.local/share"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_DIRS="$HOME/.local/share:/usr/share"
unset QVR_REGISTRY
prefix="$HOME/.local"
mkdir -p "$HOME"
cmake --install "$build" --prefix "$prefix" >/dev/null
PREFIX="$prefix" CMAKE_MANIFEST="$build/install_manifest.txt" sh "$src/packaging/install-user.sh" >/dev/null

entry="$prefix/share/applications/quavero.desktop"
remarks=$(desktop-file-validate "$entry" 2>&1) || fail "desktop entry: $remarks"
[ -z "$remarks" ] || fail "desktop entry: $remarks"
# Exec's arguments are quoted as in a shell; this path holds nothing but a space to quote.
exec_line=$(sed -n 's/^Exec=//p' "$entry")
eval "set -- $exec_line"
[ "$1" = "$prefix/bin/quavero" ] && [ -x "$1" ] || fail "Exec names '$1'"

mkdir "$tmp/files"
type_of() {
  printf 'track=x\n' > "$tmp/files/$1"
  gio info -a standard::content-type "$tmp/files/$1" | sed -n 's/.*content-type: //p'
}
[ "$(type_of song.qvr)" = application/x-quavero-request ] || fail "song.qvr is not a request"
[ "$(type_of HOTEL.QVR)" != application/x-quavero-request ] || fail "HOTEL.QVR is typed a request"

: > "$prefix/lib/quavero/OldExecutable.bak"
PREFIX="$prefix" sh "$src/packaging/uninstall-user.sh" >/dev/null
# The queue files' folder stays, as the settings do.
left=$(find "$prefix" \( -name '*quavero*' -o -name OldExecutable.bak \) ! -path "$XDG_DATA_HOME/quavero")
[ -z "$left" ] || fail "left after uninstall: $left"
[ -f "$XDG_CONFIG_HOME/quavero/registry.reg" ] || fail "the settings hive went"
echo "install and uninstall: fine"
