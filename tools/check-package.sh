#!/usr/bin/env bash
# Checks the Debian package that `make deb` left in FOLDER (default build-deb): lintian
# finds no error, the desktop entry and the AppStream metadata validate without a
# remark, the window and web libraries are files of their own that link Qt and Qt
# WebEngine where packaging tools see them, their symbols are in the -dbgsym package,
# the package depends on what they link, and the program runs from the package.
set -euo pipefail

dir=${1:-build-deb}
debs=("$dir"/quavero_*.deb)
[ -f "${debs[0]}" ] || { echo "check-package: no quavero_*.deb in $dir (make deb)" >&2; exit 1; }
deb=${debs[0]}
failed=0

echo "== lintian $deb"
lintian --fail-on error --display-info --info "$deb" || failed=1

root="$dir/root"
rm -rf "$root"
dpkg-deb -x "$deb" "$root"

echo "== desktop-file-validate"
remarks=$(desktop-file-validate "$root/usr/share/applications/quavero.desktop" 2>&1) || failed=1
[ -z "$remarks" ] || { echo "$remarks"; failed=1; }
# The command is in every PATH; a quoted path is what xdg-open without a desktop
# (xdg-utils 1.1.3) cannot run.
grep -qx 'Exec=quavero %f' "$root/usr/share/applications/quavero.desktop" || { echo "Exec does not name quavero plainly" >&2; failed=1; }

# Offline: a screenshot is a web address, which the check would otherwise fetch.
echo "== appstreamcli validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || failed=1

echo "== dependencies"
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends"
for package in libqt6widgets6 libqt6webenginewidgets6 libcurl4; do
  # Debian 13 renamed some libraries for 64-bit time (libcurl4t64).
  grep -qE "(^|[ ,|])$package(t64)?( |,|$)" <<<"$depends" || { echo "Depends lacks $package" >&2; failed=1; }
done

# The program's window part, as the distribution's tools see it.
echo "== libraries"
libraries="$root/usr/lib/quavero"
# LIBRARY LINKED: the package holds LIBRARY, and ldd finds that it links LINKED.
check_library() {
  if [ ! -f "$libraries/$1" ]; then
    echo "no /usr/lib/quavero/$1 in the package" >&2; failed=1
  # Whole before it is searched: grep -q would end ldd with a broken pipe.
  elif ! linked=$(ldd "$libraries/$1") || ! grep -q "^\s*$2 => /" <<<"$linked"; then
    echo "ldd on /usr/lib/quavero/$1 does not name $2" >&2; failed=1
  fi
}
check_library libquavero-gui.so libQt6Widgets.so.6
check_library libquavero-web.so libQt6WebEngineWidgets.so.6

# dh_strip took the symbols of each executable file into the -dbgsym package.
echo "== debugging symbols"
dbgsym=("$dir"/quavero-dbgsym_*.deb)
if [ -f "${dbgsym[0]}" ]; then
  symbols=$(dpkg-deb -c "${dbgsym[0]}")
  for file in "$root/usr/bin/quavero" "$libraries"/*.so; do
    id=$(readelf -n "$file" 2>/dev/null | sed -n 's/.*Build ID: \([0-9a-f]\{2\}\)\([0-9a-f]*\).*/\1\/\2/p')
    grep -q "/usr/lib/debug/.build-id/$id.debug$" <<<"$symbols" || { echo "no symbols of ${file#"$root"} in ${dbgsym[0]}" >&2; failed=1; }
  done
else
  echo "no quavero-dbgsym_*.deb in $dir" >&2; failed=1
fi

# From where the package put it: the probe loads the window library by its path,
# with every library it links, and finds its entry and the program's version.
echo "== the program runs"
"$root/usr/bin/quavero" --probe || { echo "the packaged program cannot open its window part" >&2; failed=1; }

[ "$failed" = 0 ] && echo "check-package: $deb is clean" || echo "check-package: $deb has faults" >&2
exit "$failed"
