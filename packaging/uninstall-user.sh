#!/bin/sh
# Removes what `make install` put in place for the current user: the files listed
# in $PREFIX/lib/quavero/install-manifest.txt or, for an installation without that
# list, the files of every layout Quavero was installed in; and the executable a
# self-update replaced. The settings hive, the queue files and the downloaded
# tracks stay.
set -eu

PREFIX=${PREFIX:-$HOME/.local}
install_dir="$PREFIX/lib/quavero"
manifest="$install_dir/install-manifest.txt"

if [ -f "$manifest" ]; then
  files=$(cat "$manifest")
else
  files="$install_dir/quavero
$install_dir/libquavero-gui.so
$PREFIX/bin/quavero
$PREFIX/share/applications/quavero.desktop
$PREFIX/share/mime/packages/quavero.xml"
  for size in 16 32 48 256; do
    files="$files
$PREFIX/share/icons/hicolor/${size}x${size}/apps/quavero.png"
  done
fi

# The list is the installer's own; still, only what lies under the prefix goes.
echo "$files" | while IFS= read -r file; do
  case "$file" in
    "$PREFIX"/*) rm -f "$file" ;;
    "") ;;
    *) echo "uninstall: leaving $file (outside $PREFIX)" >&2 ;;
  esac
done
# A self-update leaves the executable it replaced beside the new one, and while the
# new one is on trial, or after it was undone, a note of it.
rm -f "$install_dir/OldExecutable.bak" "$install_dir/update-trial" "$install_dir/update-undone"
rmdir "$install_dir" 2>/dev/null || true

if command -v update-mime-database >/dev/null && [ -d "$PREFIX/share/mime" ]; then
  update-mime-database "$PREFIX/share/mime" >/dev/null 2>&1 || true
fi
if command -v update-desktop-database >/dev/null && [ -d "$PREFIX/share/applications" ]; then
  update-desktop-database "$PREFIX/share/applications" >/dev/null 2>&1 || true
fi
[ -d "$PREFIX/share/icons/hicolor" ] && touch "$PREFIX/share/icons/hicolor"
echo "Uninstalled Quavero from $PREFIX (settings and queue files are kept)"
