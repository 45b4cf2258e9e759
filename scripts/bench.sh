#!/usr/bin/env bash
# Installs what is missing, builds, and measures havoc at 1920 x 1080, at
# 24 and at 16 bits: the frame rate of every loop against the bare frame,
# start-up as seen from outside, and the time from the hand to the screen
# next to a plain X client's. Each measurement starts its own Xvfb.
#   scripts/bench.sh [frames per run] [runs]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh"
"$here/scripts/build.sh" >/dev/null
cd "$here"
# The sound library's probe of a missing card is noise here.
quiet_alsa() { grep -v '^ALSA lib' >&2 || true; }
echo "$(nproc) cores, load average$(uptime | sed 's/.*load average//')"
for depth in 24 16; do
    echo
    tests/with_xvfb.sh "1920x1080x$depth" build/bench/havoc_frame_bench "$@" 2> >(quiet_alsa)
done
for depth in 24 16; do
    echo
    build/bench/havoc_startup_bench "1920x1080x$depth"
done
for depth in 24 16; do
    echo
    build/bench/havoc_latency_bench "1920x1080x$depth"
done
