#!/bin/sh
# Finishes a per-user install after `cmake --install` has put the program under
# $PREFIX/lib/quavero, the command in $PREFIX/bin and the desktop entry, the
# request-file type and the icons under $PREFIX/share: refreshes the desktop's
# caches and, on a first install, writes the settings hive the program reads. Every
# file put in place, those of `cmake --install` ($CMAKE_MANIFEST, its
# install_manifest.txt), is listed in $PREFIX/lib/quavero/install-manifest.txt for
# uninstall-user.sh.
set -eu

PREFIX=${PREFIX:-$HOME/.local}
install_dir="$PREFIX/lib/quavero"
data_home=${XDG_DATA_HOME:-$HOME/.local/share}
hive=${QVR_REGISTRY:-${XDG_CONFIG_HOME:-$HOME/.config}/quavero/registry.reg}

# The caches are a convenience: a failed refresh leaves the files in place.
if command -v update-mime-database >/dev/null; then
  update-mime-database "$PREFIX/share/mime" >/dev/null 2>&1 || true
fi
if command -v update-desktop-database >/dev/null; then
  update-desktop-database "$PREFIX/share/applications" >/dev/null 2>&1 || true
fi
# Icon caches look at the theme folder's time.
[ -d "$PREFIX/share/icons/hicolor" ] && touch "$PREFIX/share/icons/hicolor"

manifest="$install_dir/install-manifest.txt"
mkdir -p "$install_dir"
{
  if [ -n "${CMAKE_MANIFEST:-}" ] && [ -f "$CMAKE_MANIFEST" ]; then
    cat "$CMAKE_MANIFEST"
    echo
  fi
  echo "$manifest"
} | sed '/^$/d' | sort -u > "$manifest.tmp.$$"
mv "$manifest.tmp.$$" "$manifest"

# A REG_SZ text in the hive file: backslashes and quotes are escaped.
reg_sz() {
  printf '"%s"="%s"\r\n' "$1" "$(printf '%s' "$2" | sed 's/\\/\\\\/g; s/"/\\"/g')"
}

if [ ! -e "$hive" ]; then
  music=$(xdg-user-dir MUSIC 2>/dev/null || true)
  if [ -z "$music" ] || [ "$music" = "$HOME" ]; then
    music="$HOME/Music"
  fi
  download_folder="$music/Quavero"
  queue_dir="$data_home/quavero"
  mkdir -p "$(dirname "$hive")" "$download_folder" "$queue_dir"
  tmp="$hive.tmp.$$"
  {
    printf 'REGEDIT4\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]\r\n'
    reg_sz Directory "$install_dir"
    printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Client]\r\n'
    reg_sz DownloadFolder "$download_folder"
    printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Queue]\r\n'
    reg_sz RawQueue "$queue_dir/rawqueue.txt"
    reg_sz DownloadQueue "$queue_dir/downloadqueue.txt"
  } > "$tmp"
  mv "$tmp" "$hive"
  echo "Wrote the settings hive $hive"
fi

QVR_REGISTRY="$hive" "$install_dir/quavero" /install
echo "Installed $install_dir/quavero (command: $PREFIX/bin/quavero)"
