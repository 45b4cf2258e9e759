#!/usr/bin/env bash
# Runs a command against a private Xvfb server and a private HOME whose ALSA
# setup writes all sound into $HOME/sound.wav through a null device.
#   tests/with_xvfb.sh WIDTHxHEIGHTxDEPTH command [args...]
set -euo pipefail
geometry=$1; shift

home=$(mktemp -d /tmp/havoc-test.XXXXXX)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$home"
}
trap cleanup EXIT

"$(dirname "$0")/write_sound_home.sh" "$home"

# -displayfd picks a free display number and tells it once the server is up.
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 "$geometry" -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 30 -u "$fd" display || { echo "Xvfb did not start" >&2; exit 1; }
exec {fd}<&-

HOME=$home DISPLAY=:$display "$@"
