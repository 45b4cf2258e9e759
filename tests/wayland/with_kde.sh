#!/usr/bin/env bash
# Runs a command inside a private headless KDE Plasma desktop: KWin on a
# virtual output with XWayland, a known picture on the screen, a native
# window holding the keyboard and KDE's desktop portal with the screenshot
# permission already granted, all on a private D-Bus session bus (see
# session.sh).
#   tests/wayland/with_kde.sh command [args...]
# Inside, the command finds WAYLAND_DISPLAY, DISPLAY, XAUTHORITY, a private
# HOME and HAVOC_TEST_DESKTOP=kde in its environment. The command's own
# binary may send input through KWin's fake input protocol and take the
# screen's picture through KWin's screenshot interface: a desktop entry
# names it, as KWin grants both only to programs that have one.
set -euo pipefail
# KWin's binary carries a file capability (to raise its own limits) that a
# container may not grant: executing it fails there. A copy has none.
prepare_stage() {
    mkdir -p "$1/kwin"
    cp /usr/bin/kwin_wayland "$1/kwin/"
}
source "$(dirname "$0")/session.sh"

export XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland KDE_FULL_SESSION=true KDE_SESSION_VERSION=5
# KDE's portal saves each picture in the pictures folder and fails when
# there is none; a desktop login makes it (with the user's other folders).
mkdir -p "$HOME/.local/share/applications" "$HOME/.config" "$HOME/Pictures"
cat > "$HOME/.local/share/applications/havoc-wayland-tests.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=havoc's Wayland tests
Exec=$1
NoDisplay=true
X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input
X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2
ENTRY
# No animations: a picture of the screen shows windows where they settle.
cat > "$HOME/.config/kwinrc" <<CONF
[Compositing]
AnimationSpeed=0
[Plugins]
slideEnabled=false
fadeEnabled=false
scaleEnabled=false
CONF
cat > "$HOME/.config/kdeglobals" <<CONF
[KDE]
AnimationDurationFactor=0
CONF

# KWin starts this once XWayland is up, with the session's variables set.
cat > "$XDG_RUNTIME_DIR/note-env.sh" <<NOTE
#!/bin/sh
env > $XDG_RUNTIME_DIR/kwin.env
NOTE
chmod +x "$XDG_RUNTIME_DIR/note-env.sh"
width=${screen%x*} height=${screen#*x}
"$(dirname "$0")/../kwin/kwin_wayland" --virtual --xwayland --no-lockscreen --no-global-shortcuts \
    --width "$width" --height "$height" --socket wayland-havoc "$XDG_RUNTIME_DIR/note-env.sh" >&2 &
pids+=($!)
wait_for 60 "KWin" grep -q '^DISPLAY=' "$XDG_RUNTIME_DIR/kwin.env"
for name in WAYLAND_DISPLAY DISPLAY XAUTHORITY; do
    export "$(grep "^$name=" "$XDG_RUNTIME_DIR/kwin.env")"
done
dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
    KDE_FULL_SESSION KDE_SESSION_VERSION

# The desktop's picture as its wallpaper, under a native window that has the
# keyboard before the command starts.
swaybg -o '*' -i "$desktop_picture" -m fill >&2 &
pids+=($!)
# (A terminal such as foot crashes on the virtual output, whose physical size
# is unknown; with a GTK window there KDE's portal takes the picture of a
# window it cannot find.)
QT_QPA_PLATFORM=wayland kcolorschemeeditor >&2 &
pids+=($!)

start_portal
run_command kde "$@"
