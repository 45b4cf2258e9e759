#!/usr/bin/env bash
# Runs a command inside a private headless Wayland desktop: sway with
# XWayland, a known picture as the background, a native terminal window
# holding the keyboard, pipewire and the desktop portal with the screenshot
# permission already granted, all on a private D-Bus session bus.
#   tests/wayland/with_sway.sh command [args...]
# sway refuses to run as root, so as root the desktop runs as the test user
# havoc-wayland (created here when missing); the command's files are copied
# where that user can read them, and the command runs in that copy's folder.
# Inside, the command finds SWAYSOCK, WAYLAND_DISPLAY, DISPLAY and a private
# HOME in its environment.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
user=havoc-wayland
screen=1920x1080

if [ "${1:-}" != --inside ]; then
    stage=$(mktemp -d /tmp/havoc-wayland.XXXXXX)
    cleanup() {
        # The document portal may still hold its mount when the bus is gone.
        fusermount3 -u -z "$stage/run/doc" 2>/dev/null || true
        rm -rf "$stage"
    }
    trap cleanup EXIT
    mkdir -p "$stage/bin"
    # The command and its file arguments go into the stage, so a checkout
    # the test user cannot read (under /root, say) works too.
    args=()
    for a in "$@"; do
        if [ -f "$a" ]; then
            cp "$a" "$stage/bin/"
            args+=("$stage/bin/$(basename "$a")")
        else
            args+=("$a")
        fi
    done
    cp "$here/with_sway.sh" "$stage/bin/"
    mkdir -m 700 "$stage/home" "$stage/run"
    run_as=()
    if [ "$(id -u)" -eq 0 ]; then
        # Another run may be creating the same user at the same moment.
        id -u "$user" >/dev/null 2>&1 ||
            useradd --system --user-group --no-create-home --home-dir /nonexistent \
                --shell /usr/sbin/nologin "$user" 2>/dev/null || id -u "$user" >/dev/null
        chown -R "$user:$user" "$stage"
        chmod 755 "$stage"
        run_as=(runuser -u "$user" --)
    fi
    cd "$stage/bin"
    # The desktop's own chatter goes to a log, shown only when something
    # fails; the command keeps this stderr as descriptor 3.
    status=0
    "${run_as[@]}" env -i PATH=/usr/bin:/bin HOME="$stage/home" XDG_RUNTIME_DIR="$stage/run" LANG=C.UTF-8 \
        dbus-run-session -- "$stage/bin/with_sway.sh" --inside "${args[@]}" 3>&2 2>"$stage/desktop.log" ||
        status=$?
    [ $status -eq 0 ] || tail -n 30 "$stage/desktop.log" >&2
    exit $status
fi
shift

# Everything below runs as the test user on the private session bus.
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
fail() {
    echo "with_sway.sh: $*" >&3
    exit 1
}
wait_for() {  # seconds, what, command...
    local seconds=$1 what=$2
    shift 2
    local end=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $end ] || fail "$what did not come up within $seconds s"
        sleep 0.1
    done
}

# Colour everywhere and detail at every scale, so a misplaced, miscoloured
# or stale pixel shows.
/usr/bin/convert -seed 7 -size $screen plasma:red-blue \( -size $screen pattern:checkerboard -normalize \) \
    -compose multiply -composite "$HOME/desktop.png"

cat > "$XDG_RUNTIME_DIR/sway.conf" <<CONF
output HEADLESS-1 mode $screen position 0 0 bg $HOME/desktop.png fill
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

# The answer a desktop's one-time permission question would keep: portal
# backends from version 2 on ask it before the first screenshot.
gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
    --object-path /org/freedesktop/impl/portal/PermissionStore \
    --method org.freedesktop.impl.portal.PermissionStore.SetPermission \
    screenshot true screenshot '' "['yes']" >/dev/null
# Started now, as it is on a desktop by the time anyone runs havoc.
wait_for 30 "the desktop portal" gdbus call --session --dest org.freedesktop.portal.Desktop \
    --object-path /org/freedesktop/portal/desktop --method org.freedesktop.DBus.Properties.Get \
    org.freedesktop.portal.Screenshot version

"$@" 2>&3 3>&-
