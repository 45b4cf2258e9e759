#!/usr/bin/env bash
# Plays havoc for the README: the real binary under a private Xvfb on a
# made-up desktop, driven through XTEST by xdotool, as a person would play
# it. Writes docs/palette.png, bat.png, lightsaber.png, laser.png, lady.png
# and docs/havoc.gif (the whole run, recorded from the screen).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh"
"$here/scripts/build.sh" >/dev/null

W=640 H=480
CAPTURE_INTERVAL=0.08   # seconds between the GIF's frames
# Where havoc puts its palette on this screen, to click its icons.
eval "$("$here/build/palette_geometry" $W $H)"
out=$here/docs
work=$(mktemp -d /tmp/havoc-demo.XXXXXX)
xvfb_pid= havoc_pid= recorder_pid=
cleanup() {
    for pid in $recorder_pid $havoc_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
convert=/usr/bin/convert

# A desktop: a wallpaper, a top bar, icons and two windows.
$convert -size ${W}x$H xc:'#34568b' \
    -fill '#3f64a0' -draw "polygon 0,$H $W,120 $W,$H" \
    -fill '#2b4a7a' -draw "polygon 0,300 300,$H 0,$H" \
    -fill '#4a72ad' -draw "polygon 380,0 $W,0 $W,200" \
    -fill '#1e2230' -draw "rectangle 0,0 $((W - 1)),21" \
    -fill '#e8b84a' -draw 'roundrectangle 18,40 58,72 4,4' \
    -draw 'roundrectangle 18,100 58,132 4,4' -draw 'roundrectangle 18,160 58,192 4,4' \
    -fill '#f4f4f4' -draw 'roundrectangle 90,60 400,300 6,6' \
    -fill '#2f6fb3' -draw 'rectangle 90,60 400,84' \
    -fill '#c8ccd4' -draw 'rectangle 106,100 380,108' -draw 'rectangle 106,120 340,128' \
    -draw 'rectangle 106,140 370,148' -draw 'rectangle 106,160 300,168' \
    -fill '#ffffff' -draw 'roundrectangle 300,190 600,430 6,6' \
    -fill '#3c8d40' -draw 'rectangle 300,190 600,214' \
    -fill '#6aa0d8' -draw 'rectangle 316,230 584,330' \
    -fill '#d8dce4' -draw 'rectangle 316,346 560,354' -draw 'rectangle 316,366 520,374' \
    -alpha off "$work/desktop.png"

exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 ${W}x${H}x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 30 -u "$fd" display || { echo "Xvfb did not start" >&2; exit 1; }
exec {fd}<&-
export DISPLAY=:$display
# display sets the root's picture and then reports failure all the same.
display -window root "$work/desktop.png" || true

# Sound goes to a file in a private HOME, not to this machine's speakers.
mkdir "$work/home"
"$here/tests/write_sound_home.sh" "$work/home"

# Every frame of the run, each named by the time it was taken.
mkdir "$work/frames"
record() {
    while :; do
        xwd -root -silent > "$work/frames/$(date +%s%N).xwd"
        sleep $CAPTURE_INTERVAL
    done
}
record &
recorder_pid=$!
sleep 0.5                  # the untouched desktop, for the GIF's first frames

(cd "$here/build/data" && HOME=$work/home exec "$here/build/havoc" 2>/dev/null) &
havoc_pid=$!

# Input as a hand gives it: presses held long enough for the game to see.
hold() { sleep 0.1; }
move() { xdotool mousemove "$1" "$2"; hold; }
press() { xdotool mousedown 1; hold; }
release() { xdotool mouseup 1; hold; }
click() { move "$1" "$2"; press; release; }
key() { xdotool keydown "$1"; hold; xdotool keyup "$1"; hold; }
# A drag with the button held, in small steps along a wave.
sweep() {
    local x0=$1 y0=$2 x1=$3 y1=$4 steps=$5 i
    for ((i = 0; i <= steps; i++)); do
        local x=$((x0 + (x1 - x0) * i / steps))
        local y=$((y0 + (y1 - y0) * i / steps + (i % 8 < 4 ? i % 4 : 4 - i % 4) * 6))
        xdotool mousemove "$x" "$y"
        sleep 0.03
    done
}
shot() {
    xwd -root -silent | $convert xwd:- -strip "$out/$1.png"
    echo "wrote docs/$1.png"
}
slot_x() { echo $((icons_left + $1 * icon_w + icon_w / 2)); }
slot_y=$((palette_top + icon_h / 2))
strip="${palette_width}x$palette_height+$palette_left+$palette_top"

# A checksum of the palette strip's pixels in a picture file (xwd:- reads stdin).
strip_sum() { $convert "$1" -crop "$strip" +repage -strip -depth 8 ppm:- | md5sum; }
desktop_strip=$(strip_sum "$work/desktop.png")
# The palette has faded in once its strip differs from the desktop and has
# stopped changing between two looks.
last_strip=
palette_faded_in() {
    local now
    now=$(xwd -root -silent | strip_sum xwd:-)
    [ "$now" != "$desktop_strip" ] && [ "$now" = "$last_strip" ] && return 0
    last_strip=$now
    return 1
}
wait_for() {
    local tries=300
    until "$@"; do
        ((--tries)) || { echo "demo: gave up waiting for $*" >&2; exit 1; }
        kill -0 "$havoc_pid" || { echo "demo: havoc ended early" >&2; exit 1; }
        sleep 0.1
    done
}

mkdir -p "$out"
wait_for palette_faded_in
shot palette

# The bat: three swings, and a fourth caught on its way to the glass.
click "$(slot_x 0)" $slot_y
for spot in "250 150" "420 260" "180 330"; do
    click $spot
    sleep 0.5
done
move 470 170
press
sleep 0.08                 # about two thirds through the swing
shot bat
release
sleep 0.5

# The lightsaber, straight from the bat by its key: a burning trail.
key 2
move 120 380
press
sweep 120 380 560 300 60
shot lightsaber
sweep 560 300 300 120 40
release

# The laser: a burst of shots across the windows.
key 3
for spot in "200 120" "260 200" "330 140" "420 220" "500 150"; do
    move $spot
    press
    sleep 0.25
    release
done
move 380 320
press
sleep 0.12
shot laser
sleep 0.3
release

# The lady: she walks and eats by herself; one click calls her over.
key 4
sleep 2
click 320 240
sleep 1.2                  # on her way to the pointer
shot lady

# Back to the palette, and out: Escape there quits once the palette has
# faded in, so keep pressing. The desktop underneath was never touched.
key Escape
tries=100
while kill -0 "$havoc_pid" 2>/dev/null; do
    ((--tries)) || { echo "demo: havoc did not quit" >&2; exit 1; }
    key Escape
done
wait "$havoc_pid"
havoc_pid=
sleep 0.5                  # the desktop as it was, for the GIF's last frames
kill "$recorder_pid"
wait "$recorder_pid" 2>/dev/null || true
recorder_pid=

# The GIF: each frame shown for as long as it was on the screen, all frames
# sharing one palette without dithering, so unchanged pixels stay unchanged
# and each frame keeps only what moved.
frames=("$work"/frames/*.xwd)
args=()
for ((i = 0; i < ${#frames[@]} - 1; i++)); do
    t0=$(basename "${frames[i]}" .xwd) t1=$(basename "${frames[i + 1]}" .xwd)
    args+=(-delay $(((t1 - t0) / 10000000)) "${frames[i]}")
done
args+=(-delay 200 "${frames[-1]}")
$convert "${args[@]}" +dither +remap -layers Optimize "$out/havoc.gif"
echo "wrote docs/havoc.gif: ${#frames[@]} frames, $(du -k "$out/havoc.gif" | cut -f1) KiB"
