#!/usr/bin/env bash
# Checks the Debian package that `make deb` left in FOLDER (default build-deb): lintian
# finds no error, the desktop entry and the AppStream metadata validate without a
# remark, and the package depends on the libraries of the window part, which the
# executable carries inside and packaging tools would not see by themselves.
set -euo pipefail

dir=${1:-build-deb}
debs=("$dir"/quavero_*.deb)
[ -f "${debs[0]}" ] || { echo "check-package: no quavero_*.deb in $dir (make deb)" >&2; exit 1; }
deb=${debs[0]}
failed=0

echo "== lintian $deb"
lintian --fail-on error --info "$deb" || failed=1

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
  grep -qE "(^|[ ,|])$package( |,|$)" <<<"$depends" || { echo "Depends lacks $package" >&2; failed=1; }
done

[ "$failed" = 0 ] && echo "check-package: $deb is clean" || echo "check-package: $deb has faults" >&2
exit "$failed"
