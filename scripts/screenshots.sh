#!/usr/bin/env bash
# Takes the README's screenshots: runs meterlink against meterlink-sim on a
# private X server with a small window manager, downloads 2000 records, and
# captures each tab (the chart also zoomed into a night and with a file opened), the
# window maximised, a download that failed and one stopped part way, into OUT_DIR (default
# docs/screenshots/). Builds nothing: expects BUILD_DIR/bin (default build).
#
#   scripts/screenshots.sh [BUILD_DIR [OUT_DIR]]
#
# QT_SCALE_FACTOR=2 in the environment takes them at twice the size (on a
# screen twice as large); look at those before a release, keep the others.
#
# Needs Xvfb, openbox, xdotool and ImageMagick (import, convert).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$(cd "$build" 2>/dev/null && pwd)/bin
out=${2:-$root/docs/screenshots}
scale=${QT_SCALE_FACTOR:-1}
case $scale in 1 | 2) ;; *) echo "screenshots: QT_SCALE_FACTOR must be 1 or 2" >&2; exit 2 ;; esac
for program in meterlink meterlink-sim; do
    [ -x "$bin/$program" ] || { echo "screenshots: $bin/$program is missing; build first" >&2; exit 2; }
done
for tool in Xvfb openbox xdotool import convert; do
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
Xvfb -displayfd 3 -screen 0 $((1024 * scale))x$((768 * scale))x24 -nolisten tcp \
    3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_until 10 non_empty "$work/display" || fail "Xvfb did not start"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY

# A window manager, so the window can be maximised: Super+Up toggles it here.
sed 's|<keyboard>|<keyboard><keybind key="W-Up"><action name="ToggleMaximize"/></keybind>|' \
    /etc/xdg/openbox/rc.xml >"$work/openbox.xml"
openbox --config-file "$work/openbox.xml" >"$work/openbox.log" 2>&1 &
pids+=($!)

# One 20-character display line, and a channel name longer than its box.
cat >"$work/meter.scenario" <<'SCENARIO'
channel 2 "Totaliser forward, site 14 north"
display 1 "FLOW RATE 1234.5 GPM"
SCENARIO
start_meter() { # extra meterlink-sim options
    "$bin/meterlink-sim" --link "$work/com1" --records 2000 --seed 7 \
        --scenario "$work/meter.scenario" "$@" >"$work/sim.log" 2>&1 &
    pids+=($!)
    meter=$!
    wait_until 10 has_line "$work/sim.log" "meterlink-sim ready" || fail "meterlink-sim did not start"
}
start_meter

# Started in the work folder: default settings, Comm1 is ./com1, the CSV lands here.
start_window() {
    (cd "$work" && exec env QT_QPA_PLATFORM=xcb "$bin/meterlink") >"$work/meterlink.log" 2>&1 &
    pids+=($!)
    program=$!
    window=
    wait_until 15 find_window || fail "the meterlink window did not appear"
    wait_until 5 window_ready || fail "the meterlink window has no geometry"
}
find_window() { window=$(xdotool search --onlyvisible --name "Morvel" 2>/dev/null | head -n 1); [ -n "$window" ]; }
window_ready() { xdotool getwindowgeometry "$window" >/dev/null 2>&1; }
start_window

# The layout is in twips (15 to a pixel); tab positions count from the tab control's
# corner, which sits under the menu bar.
menu_bar=20
click_at() { # X Y in twips from the tab control's corner
    xdotool mousemove --window "$window" $(($1 * scale / 15)) $((($2 / 15 + menu_bar) * scale)) click 1
}
settle() { sleep 0.5; } # let the window repaint before a capture
shoot() { # NAME [X window, default the meterlink window]
    settle
    import -window "${2:-$window}" "$work/$1.png"
    convert "$work/$1.png" -colors 256 "PNG8:$out/$1.png"
}
# The grid keeps Ctrl+Tab for its cells once it has the focus, so every move starts from
# the "Download" tab itself, clicked, and steps backwards from there: View, the grid's
# tab, is only ever the last step.
tab_count=5
show_tab() { # INDEX
    xdotool mousemove --window "$window" $((30 * scale)) $(((menu_bar + 11) * scale)) click 1
    local step
    for ((step = 0; step < (tab_count - $1) % tab_count; ++step)); do
        xdotool key --clearmodifiers ctrl+shift+Tab
    done
}
# "Download Data": frame at 4680,3300, the button inside at 600,1200, 2655 by 615.
press_download() { click_at $((4680 + 600 + 2655 / 2)) $((3300 + 1200 + 615 / 2)); }

mkdir -p "$out"
press_download
wait_until 120 non_empty "$work/Logdata.csv" || fail "no Logdata.csv after pressing Download Data"
echo "downloaded $(($(wc -l <"$work/Logdata.csv"))) CSV lines" >&2
shoot download

show_tab 1
shoot view

show_tab 2
shoot settings

show_tab 3
# Keypad keys: 615 by 375 twips, 720 apart across and 600 down from 960,3075.
press_key() { click_at $((960 + 720 * ($1 % 4) + 307)) $((3075 + 600 * ($1 / 4) + 187)); }
press_key 12 # Menu
sleep 1.6    # two display ticks: the key goes out, the lines come back
press_key 11 # Down
sleep 1.6
shoot display

# The Chart tab after the download, then one night of it: wheel notches over 3 June 02:00
# zoom the time around the pointer, and a right-button drag moves it to the evening before.
show_tab 4
shoot chart
xdotool mousemove --window "$window" $((217 * scale)) $((220 * scale))
for _ in $(seq 13); do xdotool click 4; done
xdotool mousedown 3 mousemove --window "$window" $((257 * scale)) $((220 * scale)) \
    mousemove --window "$window" $((297 * scale)) $((220 * scale)) mouseup 3
shoot chart-night

# A file from another PC: day-first dates across New Year, the meter off for four hours,
# two limit values and a text among the readings.
python3 - "$work/other-pc.csv" <<'PY'
import math, sys
from datetime import datetime, timedelta
lines = ["Date / Time,Level,\"Flow, total\",Pump current"]
t = datetime(2001, 12, 30, 12, 0)
for n in range(400):
    if 150 <= n < 166:
        t += timedelta(minutes=15)
        continue
    level = 2.5 + 0.8 * math.sin(n / 20.0)
    flow = 1200 + 400 * math.sin(n / 31.0 + 1)
    current = "1E+37" if n in (90, 91) else ("n/a" if n == 300 else "%.3f" % (4 + math.sin(n / 9.0)))
    stamp = t.replace(year=2001).strftime("%d.%m.%Y %H:%M:%S")
    lines.append("%s, %.4g, %.6g,%s" % (stamp, level, flow, current))
    t += timedelta(minutes=15)
open(sys.argv[1], "w", newline="").write("\r\n".join(lines) + "\r\n")
PY
xdotool mousemove --window "$window" $((50 * scale)) $((62 * scale)) click 1 # "Open CSV…"
sleep 1
xdotool type --delay 10 "$work/other-pc.csv"
xdotool key Return
shoot chart-file

# The window maximised, on the View tab: the grid takes the room, the headings stay.
show_tab 1
xdotool key --clearmodifiers super+Up
sleep 1
shoot maximised root

# A download from a meter that has gone quiet: the reason shows under the frames.
xdotool key --clearmodifiers super+Up # back to the given size
sleep 1
show_tab 0
kill "$meter"
wait "$meter" 2>/dev/null || true
press_download
# Each transaction fails at its write, or at worst waits its full three seconds: the
# state read, eight channel reads and three block attempts fit in 40 s.
sleep 40
shoot failed

# A download stopped part way (Esc), from a meter that takes 0.3 s over each answer: the
# View and Chart tabs say the rows are those read before the stop, not saved.
kill "$program"
wait "$program" 2>/dev/null || true
start_meter --records 20000 --fault delay:0.3
start_window
press_download
sleep 6
xdotool key --clearmodifiers Escape
sleep 1
show_tab 1
shoot stopped-view
show_tab 4
shoot stopped-chart

ls -l "$out"
