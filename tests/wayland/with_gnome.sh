#!/usr/bin/env bash
# Runs a command inside a private headless GNOME desktop: GNOME Shell on a
# virtual monitor with XWayland, a known picture as the wallpaper, a native
# window holding the keyboard and GNOME's desktop portal with the screenshot
# permission already granted, on a private D-Bus session bus and a private
# system bus (see session.sh).
#   tests/wayland/with_gnome.sh command [args...]
# Inside, the command finds WAYLAND_DISPLAY, DISPLAY, XAUTHORITY, a private
# HOME and HAVOC_TEST_DESKTOP=gnome in its environment.
set -euo pipefail
# XWayland puts its socket in /tmp/.X11-unix, and will not use a folder
# that anyone but root could have made.
prepare_stage() {
    if [ ! -d /tmp/.X11-unix ] && [ "$(id -u)" -eq 0 ]; then
        install -d -m 1777 -o root -g root /tmp/.X11-unix
    fi
}
source "$(dirname "$0")/session.sh"

# The shell wants a system bus; a private one will do.
cat > "$XDG_RUNTIME_DIR/system-bus.conf" <<CONF
<busconfig><type>system</type><listen>unix:path=$XDG_RUNTIME_DIR/system-bus</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>
CONF
dbus-daemon --config-file="$XDG_RUNTIME_DIR/system-bus.conf" --nofork >&2 &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/system-bus
wait_for 10 "the system bus" test -S "$XDG_RUNTIME_DIR/system-bus"

# The desktop's picture as the wallpaper; no animations, so a picture of the
# screen shows windows where they settle; no hot corner for a pointer that
# starts at the top left.
gsettings set org.gnome.desktop.background picture-uri "file://$desktop_picture"
gsettings set org.gnome.desktop.background picture-uri-dark "file://$desktop_picture"
gsettings set org.gnome.desktop.background picture-options stretched
gsettings set org.gnome.desktop.interface enable-animations false
gsettings set org.gnome.desktop.interface enable-hot-corners false
# The shell's notices at start (no screen lock without a display manager)
# would stay on screen for ever with nobody at the keyboard.
gsettings set org.gnome.desktop.notifications show-banners false

export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland
shell_property() {
    gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method "org.freedesktop.DBus.Properties.$1" org.gnome.Shell "${@:2}"
}
gnome-shell --headless --wayland --virtual-monitor "$screen" > >(tee "$XDG_RUNTIME_DIR/shell.log" >&2) 2>&1 &
pids+=($!)
wait_for 60 "GNOME Shell's XWayland" grep -q 'Using public X11 display' "$XDG_RUNTIME_DIR/shell.log"
DISPLAY=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$XDG_RUNTIME_DIR/shell.log" | head -n 1)
export DISPLAY WAYLAND_DISPLAY=wayland-0
wait_for 60 "GNOME Shell" shell_property Get OverviewActive
XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* | head -n 1)
export XAUTHORITY
dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE

# The shell opens on its overview once it has finished starting, which a
# session started by a person leaves at once: closed until it stays closed.
overview_stays_closed() {
    shell_property Set OverviewActive '<false>' >/dev/null
    sleep 1
    shell_property Get OverviewActive | grep -q false
}
wait_for 30 "the desktop out of the overview" overview_stays_closed

# A native window has the keyboard before the command starts.
GDK_BACKEND=wayland zenity --info --title havoc-tests --text 'a native window with the keyboard' >&2 &
pids+=($!)

start_portal
run_command gnome "$@"
