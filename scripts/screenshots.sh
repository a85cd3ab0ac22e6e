#!/usr/bin/env bash
# Takes the README's screenshots: runs meterlink against meterlink-sim on a
# private X server, downloads 2000 records, and captures each of the four tabs
# into docs/screenshots/. Builds nothing: expects BUILD_DIR/bin (default build).
#
#   scripts/screenshots.sh [BUILD_DIR]
#
# Needs Xvfb, xdotool and ImageMagick (import, convert).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$(cd "$build" 2>/dev/null && pwd)/bin
out=$root/docs/screenshots
for program in meterlink meterlink-sim; do
    [ -x "$bin/$program" ] || { echo "screenshots: $bin/$program is missing; build first" >&2; exit 2; }
done
for tool in Xvfb xdotool import convert; do
    command -v "$tool" >/dev/null || { echo "screenshots: $tool is needed" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    local i
    # Newest first: the window, then the meter, then the X server.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 2' INT TERM

fail() {
    echo "screenshots: $*" >&2
    for log in "$work"/*.log; do
        [ -s "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }
    done
    exit 1
}

# Polls CONDITION (a command) every 0.1 s for at most SECONDS.
wait_until() {
    local seconds=$1
    shift
    local tries=$((seconds * 10))
    until "$@"; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.1
    done
}
has_line() { grep -q "$2" "$1" 2>/dev/null; }
non_empty() { [ -s "$1" ]; }

# A private X server; it tells its display number once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_until 10 non_empty "$work/display" || fail "Xvfb did not start"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY

"$bin/meterlink-sim" --link "$work/com1" --records 2000 --seed 7 >"$work/sim.log" 2>&1 &
pids+=($!)
wait_until 10 has_line "$work/sim.log" "meterlink-sim ready" || fail "meterlink-sim did not start"

# Started in the work folder: default settings, Comm1 is ./com1, the CSV lands here.
(cd "$work" && exec env QT_QPA_PLATFORM=xcb "$bin/meterlink") >"$work/meterlink.log" 2>&1 &
pids+=($!)
find_window() { window=$(xdotool search --onlyvisible --name "Morvel" 2>/dev/null | head -n 1); [ -n "$window" ]; }
wait_until 15 find_window || fail "the meterlink window did not appear"
window_ready() { xdotool getwindowgeometry "$window" >/dev/null 2>&1; }
wait_until 5 window_ready || fail "the meterlink window has no geometry"

# The layout is in twips (15 to a pixel); tab positions count from the tab control's
# corner, which sits under the menu bar.
menu_bar=20
click_at() { # X Y in twips from the tab control's corner
    xdotool mousemove --window "$window" $(($1 / 15)) $(($2 / 15 + menu_bar)) click 1
}
settle() { sleep 0.5; } # let the window repaint before a capture
shoot() {
    settle
    import -window "$window" "$work/$1.png"
    convert "$work/$1.png" -colors 256 "PNG8:$out/$1.png"
}
next_tab() {
    xdotool mousemove --window "$window" 5 5 # keep the pointer (and so the keys) on the window
    xdotool key --clearmodifiers ctrl+Tab
}

mkdir -p "$out"
# "Download Data": frame at 4680,3300, the button inside at 600,1200, 2655 by 615.
click_at $((4680 + 600 + 2655 / 2)) $((3300 + 1200 + 615 / 2))
wait_until 120 non_empty "$work/Logdata.csv" || fail "no Logdata.csv after pressing Download Data"
echo "downloaded $(($(wc -l <"$work/Logdata.csv"))) CSV lines" >&2
shoot download

next_tab
shoot view

next_tab
shoot settings

next_tab
# Keypad keys: 615 by 375 twips, 720 apart across and 600 down from 960,2775.
press_key() { click_at $((960 + 720 * ($1 % 4) + 307)) $((2775 + 600 * ($1 / 4) + 187)); }
press_key 12 # Menu
sleep 1.6    # two display ticks: the key goes out, the lines come back
press_key 11 # Down
sleep 1.6
shoot display

ls -l "$out"
