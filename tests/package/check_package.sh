#!/usr/bin/env bash
# Checks the .deb as Debian would: lintian on the package, then every
# shipped file that has a validator of its own, and that the menu entry's
# command and icon are really in the package.
#   tests/package/check_package.sh havoc.deb ICON_SIZE...
set -euo pipefail
deb=$1; shift
root=$(mktemp -d /tmp/havoc-package.XXXXXX)
trap 'rm -rf "$root"' EXIT

# Informational tags are shown but only errors and warnings fail.
lintian --display-info --fail-on error,warning "$deb" 2> >(grep -v 'root privileges' >&2)

dpkg-deb -x "$deb" "$root"
share=$root/usr/share
desktop=$(echo "$share"/applications/*.desktop)
desktop-file-validate "$desktop"
# The metainfo, and that the menu entry it names is in the package.
appstreamcli validate-tree --no-net "$root"

page=$share/man/man6/havoc.6.gz
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "havoc.6: $warnings" >&2; exit 1; }
lexgrog "$page"

command=$(sed -n 's/^Exec=//p' "$desktop")
[ -x "$root/usr/games/$command" ] || { echo "menu entry runs $command, not in /usr/games" >&2; exit 1; }
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in "$@"; do
    png=$share/icons/hicolor/${size}x$size/apps/$icon.png
    file "$png" | grep -q "PNG image data, $size x $size, 8-bit/color RGBA" ||
        { echo "no ${size}x$size icon with alpha: $(file "$png")" >&2; exit 1; }
done
echo "package checks passed"
