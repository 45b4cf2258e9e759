#!/usr/bin/env bash
# Runs a command inside a private headless sway desktop with XWayland, a
# known picture as the background, a native terminal window holding the
# keyboard, pipewire and the desktop portal with the screenshot permission
# already granted, all on a private D-Bus session bus (see session.sh).
#   tests/wayland/with_sway.sh command [args...]
# Inside, the command finds SWAYSOCK, WAYLAND_DISPLAY, DISPLAY, a private
# HOME and HAVOC_TEST_DESKTOP=sway in its environment.
set -euo pipefail
source "$(dirname "$0")/session.sh"

cat > "$XDG_RUNTIME_DIR/sway.conf" <<CONF
output HEADLESS-1 mode $screen position 0 0 bg $desktop_picture fill
xwayland enable
default_border none
for_window [app_id="foot"] floating enable, resize set 640 400, move position 200 150
exec env > $XDG_RUNTIME_DIR/sway.env
CONF
export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$XDG_RUNTIME_DIR/sway.conf" >&2 &
pids+=($!)
wait_for 30 "sway" grep -q '^SWAYSOCK=' "$XDG_RUNTIME_DIR/sway.env"
for name in SWAYSOCK WAYLAND_DISPLAY DISPLAY; do
    export "$(grep "^$name=" "$XDG_RUNTIME_DIR/sway.env")"
done
dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY SWAYSOCK XDG_CURRENT_DESKTOP XDG_SESSION_TYPE

pipewire >&2 &
pids+=($!)

# A native Wayland window has the keyboard before the command starts.
foot --app-id foot sh -c 'echo a native window with the keyboard; exec sleep infinity' >&2 &
pids+=($!)
wait_for 30 "the terminal window" sh -c "swaymsg -t get_tree | jq -e '.. | objects | select(.app_id == \"foot\" and .focused)'"

start_portal
run_command sway "$@"
