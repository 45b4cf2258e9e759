#!/usr/bin/env bash
# Fills a private HOME so the library's ALSA driver plays into a null device
# and the mix is kept, in real time, as HOME/sound.wav.
set -euo pipefail
home=$1
cat > "$home/.asoundrc" <<ASOUND
pcm.!default {
    type plug
    slave { pcm "keep"; format S16_LE }
}
pcm.keep {
    type file
    slave.pcm "null"
    file "$home/sound.wav"
    format "wav"
}

ASOUND
printf '[sound]\nalsa_fragsize = 441\n' > "$home/.allegrorc"
