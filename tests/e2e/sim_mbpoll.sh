#!/usr/bin/env bash
# mbpoll reads the simulated meter's 40 display registers over its pseudo-terminal.
# Usage: sim_mbpoll.sh METERLINK_SIM
set -euo pipefail
sim=$1
command -v mbpoll >/dev/null || { echo "mbpoll is not installed"; exit 77; }

work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

printf 'display-mode plain\n' >"$work/plain.scn"
coproc SIM { exec "$sim" --link "$work/com1" --scenario "$work/plain.scn" --records 12; }
sim_pid=$SIM_PID
read -r -t 20 ready <&"${SIM[0]}" || { echo "no ready line"; exit 1; }
case $ready in
"meterlink-sim ready: /dev/pts/"*" linked at $work/com1") ;;
*) echo "unexpected ready line: $ready"; exit 1 ;;
esac

# Register 24 is mbpoll's reference 25 (its references start at 1).
out=$(mbpoll -m rtu -b 38400 -P none -a 1 -r 25 -c 40 -1 -t 4:hex -o 2 "$work/com1")
lines=$(grep -c '^\[[0-9]*\]:' <<<"$out" || true)
[ "$lines" -eq 40 ] || { echo "expected 40 registers, got $lines:"; echo "$out"; exit 1; }
# "SI" of "SIMULATED METER" opens line 1, "Ke" of "Keys: " opens line 4.
grep -q '^\[25\]:[[:space:]]*0x5349' <<<"$out" || { echo "line 1 wrong:"; echo "$out"; exit 1; }
grep -q '^\[55\]:[[:space:]]*0x4B65' <<<"$out" || { echo "line 4 wrong:"; echo "$out"; exit 1; }

kill "$sim_pid"
status=0
wait "$sim_pid" || status=$?
sim_pid=
[ "$status" -eq 0 ] || { echo "meterlink-sim exited with $status"; exit 1; }
[ ! -e "$work/com1" ] && [ ! -L "$work/com1" ] || { echo "link left behind"; exit 1; }
echo "ok"
