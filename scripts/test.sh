#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the frame-level
# tests at every depth, the end-to-end tests and the Windows build under
# Wine, then the frame-level tests at 32 and 8 bits a pixel again under
# AddressSanitizer and UndefinedBehaviorSanitizer. Each test starts its own
# Xvfb; the Wayland tests their own headless sway and KDE Plasma (and with
# --all-desktops GNOME), as a user of their own when run as root.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# The Wayland tests' desktops, each with XWayland and its own desktop portal:
# sway (input and capture through the compositor) and KDE Plasma (KDE's
# portal draws its dialog with QML modules its package leaves out:
# plasma-workspace brings the last of them, and the native window); with
# --all-desktops GNOME as well, a native window for each.
wayland_desktop=(sway xwayland xdg-desktop-portal xdg-desktop-portal-wlr xdg-desktop-portal-gtk pipewire
                 foot wtype grim jq libglib2.0-bin dbus python3-gi
                 kwin-wayland xdg-desktop-portal-kde qtwayland5 qml-module-qtquick-controls2
                 qml-module-qtquick-layouts qml-module-org-kde-kirigami2 qml-module-org-kde-pipewire plasma-workspace)
more_desktops=(gnome-shell xdg-desktop-portal-gnome zenity)
only_sway=(-LE more_desktops)
if [ "${1:-}" = --all-desktops ]; then
    wayland_desktop+=("${more_desktops[@]}")
    only_sway=()
fi
# The Windows build is tested under Wine, its resources read back with
# icoutils; start-up is held step by step under gdb.
"$here/scripts/deps.sh" "${wayland_desktop[@]}" wine wine64 icoutils gdb
"$here/scripts/build.sh"
"$here/scripts/build.sh" asan
"$here/scripts/build-windows.sh"
cd "$here/build"
ctest --output-on-failure "${only_sway[@]}"
cd "$here/build-asan"
# Full stacks on allocation, so the suppressions can name the sound modules.
ASAN_OPTIONS=fast_unwind_on_malloc=0 LSAN_OPTIONS=suppressions=$here/tests/lsan.supp \
    ctest --output-on-failure -L sanitized
