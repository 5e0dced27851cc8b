#!/bin/sh
# make install and make uninstall of BUILD's program, for a user whose home folder's
# path has a space and for one whose path has none: a request file opens with the
# installed command through the desktop's opener, xdg-open, under a desktop and
# without one; only lower-case ".qvr" files are request files; and uninstall leaves
# nothing of the program behind, the executable a self-update replaced included.
set -eu
build=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/qvr-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
unset QVR_REGISTRY

# HOME: installs the program into HOME/.local for a user whose home that is.
install_for() {
  export HOME="$1" XDG_DATA_HOME="$1/.local/share" XDG_CONFIG_HOME="$1/.config"
  export XDG_DATA_DIRS="$XDG_DATA_HOME:/usr/share"
  prefix="$HOME/.local"
  mkdir -p "$HOME"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  PREFIX="$prefix" CMAKE_MANIFEST="$build/install_manifest.txt" sh "$src/packaging/install-user.sh" >/dev/null
  entry="$prefix/share/applications/quavero.desktop"
  remarks=$(desktop-file-validate "$entry" 2>&1) || fail "desktop entry: $remarks"
  [ -z "$remarks" ] || fail "desktop entry: $remarks"
  # From here on the installed program is a stand-in that tells, through a pipe the
  # test reads, the arguments it was started with.
  cat > "$prefix/lib/quavero/quavero" <<'STANDIN'
#!/bin/sh
printf '%s\n' "$@" > "$QVR_OPENED"
STANDIN
}

# FILE VARIABLE...: opens FILE with xdg-open in an environment of the installing
# user's folders and VARIABLEs only (no session bus or desktop of the caller's), and
# checks that the installed command was started with FILE alone.
open_with_xdg_open() {
  file=$1
  shift
  rm -f "$tmp/opened"
  mkfifo "$tmp/opened"
  timeout 60 cat "$tmp/opened" > "$tmp/arguments" &
  reader=$!
  if ! env -i PATH="$PATH" HOME="$HOME" XDG_DATA_HOME="$XDG_DATA_HOME" XDG_CONFIG_HOME="$XDG_CONFIG_HOME" \
       XDG_DATA_DIRS="$XDG_DATA_DIRS" QVR_OPENED="$tmp/opened" "$@" xdg-open "$file" >"$tmp/xdg-open.log" 2>&1; then
    kill "$reader"
    fail "xdg-open $file with $*: $(cat "$tmp/xdg-open.log")"
  fi
  # A desktop's opener may start the program after it has ended itself.
  wait "$reader" || fail "xdg-open $file with $*: the program did not start"
  [ "$(cat "$tmp/arguments")" = "$file" ] || fail "xdg-open $file with $*: the program got $(cat "$tmp/arguments")"
}

install_for "$tmp/home of me"
# Exec's arguments are quoted as in a shell; this path holds nothing but a space to quote.
exec_line=$(sed -n 's/^Exec=//p' "$entry")
eval "set -- $exec_line"
if [ "$1" != "$prefix/bin/quavero" ] || [ ! -x "$1" ]; then fail "Exec names '$1'"; fi

mkdir "$tmp/files"
type_of() {
  printf 'track=x\n' > "$tmp/files/$1"
  gio info -a standard::content-type "$tmp/files/$1" | sed -n 's/.*content-type: //p'
}
[ "$(type_of song.qvr)" = application/x-quavero-request ] || fail "song.qvr is not a request"
[ "$(type_of HOTEL.QVR)" != application/x-quavero-request ] || fail "HOTEL.QVR is typed a request"

# GNOME's opener is gio, which reads Exec as the Desktop Entry rules say.
open_with_xdg_open "$tmp/files/song.qvr" XDG_CURRENT_DESKTOP=GNOME

: > "$prefix/lib/quavero/OldExecutable.bak"
PREFIX="$prefix" sh "$src/packaging/uninstall-user.sh" >/dev/null
# The queue files' folder stays, as the settings do.
left=$(find "$prefix" \( -name '*quavero*' -o -name OldExecutable.bak \) ! -path "$XDG_DATA_HOME/quavero")
[ -z "$left" ] || fail "left after uninstall: $left"
[ -f "$XDG_CONFIG_HOME/quavero/registry.reg" ] || fail "the settings hive went"

# Without a desktop xdg-open splits Exec at blanks itself, and cannot find a folder
# whose path has one; it looks at desktop entries only when a display is named, which
# it does not open.
install_for "$tmp/home"
open_with_xdg_open "$tmp/files/song.qvr" WAYLAND_DISPLAY=qvr-test-none
echo "install, open and uninstall: fine"
