# What every private headless Wayland desktop of the tests shares, sourced
# by with_sway.sh, with_gnome.sh and with_kde.sh before their own part:
#   tests/wayland/with_DESKTOP.sh command [args...]
# Compositors refuse to run as root, so as root the desktop runs as the test
# user havoc-wayland (created here when missing); the command's files are
# copied where that user can read them, and the command runs in that copy's
# folder. The desktop script then runs again, as that user, on a private
# D-Bus session bus, with --inside before the command; the desktop's own
# chatter goes to a log, shown only when something fails, and the command
# keeps this stderr as descriptor 3.
user=havoc-wayland
screen=1920x1080
desktop_script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

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
    cp "$desktop_script" "$(dirname "$desktop_script")/session.sh" "$stage/bin/"
    mkdir -m 700 "$stage/home" "$stage/run"
    # Room for what the desktop script needs staged before it runs.
    declare -F prepare_stage >/dev/null && prepare_stage "$stage"
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
    status=0
    "${run_as[@]}" env -i PATH=/usr/bin:/bin HOME="$stage/home" XDG_RUNTIME_DIR="$stage/run" LANG=C.UTF-8 \
        dbus-run-session -- "$stage/bin/$(basename "$desktop_script")" --inside "${args[@]}" 3>&2 \
        2>"$stage/desktop.log" || status=$?
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
    echo "$(basename "$desktop_script"): $*" >&3
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
desktop_picture="$HOME/desktop.png"
/usr/bin/convert -seed 7 -size $screen plasma:red-blue \( -size $screen pattern:checkerboard -normalize \) \
    -compose multiply -composite "$desktop_picture"

# The answer a desktop's one-time permission question would keep (portal
# backends from version 2 on ask it before the first screenshot), then the
# portal itself, started now as it is on a desktop by the time anyone runs
# havoc.
start_portal() {
    gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
        --object-path /org/freedesktop/impl/portal/PermissionStore \
        --method org.freedesktop.impl.portal.PermissionStore.SetPermission \
        screenshot true screenshot '' "['yes']" >/dev/null
    wait_for 30 "the desktop portal" gdbus call --session --dest org.freedesktop.portal.Desktop \
        --object-path /org/freedesktop/portal/desktop --method org.freedesktop.DBus.Properties.Get \
        org.freedesktop.portal.Screenshot version
}

# The command, with the desktop's name in HAVOC_TEST_DESKTOP.
run_command() {
    HAVOC_TEST_DESKTOP=$1
    export HAVOC_TEST_DESKTOP
    shift
    "$@" 2>&3 3>&-
}
