#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the frame-level
# tests at every depth, the end-to-end tests and the Windows build under
# Wine, then the frame-level tests at 32 and 8 bits a pixel again under
# AddressSanitizer and UndefinedBehaviorSanitizer. Each test starts its own
# Xvfb; the Wayland test its own headless sway, as a user of its own when
# run as root.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# The Wayland test's desktop: compositor and XWayland, the desktop portal,
# input and capture through the compositor.
wayland_desktop=(sway xwayland xdg-desktop-portal xdg-desktop-portal-wlr xdg-desktop-portal-gtk pipewire
                 foot wtype grim jq libglib2.0-bin dbus)
# The Windows build is tested under Wine; its resources are read back with
# icoutils.
"$here/scripts/deps.sh" "${wayland_desktop[@]}" wine wine64 icoutils
"$here/scripts/build.sh"
"$here/scripts/build.sh" asan
"$here/scripts/build-windows.sh"
cd "$here/build"
ctest --output-on-failure
cd "$here/build-asan"
# Full stacks on allocation, so the suppressions can name the sound modules.
ASAN_OPTIONS=fast_unwind_on_malloc=0 LSAN_OPTIONS=suppressions=$here/tests/lsan.supp \
    ctest --output-on-failure -L sanitized
