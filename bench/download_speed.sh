#!/usr/bin/env bash
# Downloads a 64 KB log (8192 records) with meterlink-cli from meterlink-sim paced at
# 38400 baud on a pseudo-terminal, and compares the wall time with the time the bytes
# need on the wire (every request and answer in the trace, 10 bits a byte), and the
# downloader's processor time with its wall time. Prints one summary line.
#
#   bench/download_speed.sh [BUILD_DIR] [RECORDS] [BAUD]
#
# BUILD_DIR defaults to build (its bin/ needs meterlink-cli and meterlink-sim).
# Exit status: 0 when within 1.02 x the wire time and under 0.02 CPU s per s,
# 1 when a target is missed, 2 when the run itself failed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
records=${2:-8192}
baud=${3:-38400}
bin=$(cd "$build" 2>/dev/null && pwd)/bin
for program in meterlink-cli meterlink-sim; do
    if [ ! -x "$bin/$program" ]; then
        echo "download_speed: $bin/$program is missing; build it first" >&2
        exit 2
    fi
done
[ -x /usr/bin/time ] || { echo "download_speed: /usr/bin/time is needed" >&2; exit 2; }

work=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 2' INT TERM

coproc SIM { exec "$bin/meterlink-sim" --link "$work/com1" --records "$records" --baud "$baud"; }
sim_pid=$SIM_PID
if ! read -r -t 20 ready <&"${SIM[0]}" || [[ $ready != "meterlink-sim ready:"* ]]; then
    echo "download_speed: meterlink-sim did not get ready" >&2
    exit 2
fi

# The settings file names the port and speed, as a user's would.
printf '[Commport]=1\r\n[CommBaud]=%s\r\n[CommFlow]=Hardware\r\n[CommSlaveID]=001\r\n[DownloadSaveFile]=Logdata.csv\r\n' \
    "$baud" >"$work/6040dwn.ini"
status=0
(cd "$work" && /usr/bin/time -o times.txt -f '%e %U %S' \
    "$bin/meterlink-cli" download --trace trace.log >cli.out 2>cli.err) || status=$?
if [ "$status" -ne 0 ]; then
    echo "download_speed: meterlink-cli exited with $status:" >&2
    cat "$work/cli.out" "$work/cli.err" >&2
    exit 2
fi

read -r wall user sys <"$work/times.txt"
# Bytes on the wire both ways, resends included.
wire_bytes=$(awk '$2 == "TX" || $2 == "RX" { n += NF - 2 - ($3 == "(resend)") } END { print n + 0 }' \
    "$work/trace.log")
rows=$(($(wc -l <"$work/Logdata.csv") - 1))

awk -v wall="$wall" -v cpu="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" \
    -v bytes="$wire_bytes" -v baud="$baud" -v records="$records" -v rows="$rows" 'BEGIN {
    minimum = bytes * 10 / baud
    ratio = minimum > 0 ? wall / minimum : 0
    load = wall > 0 ? cpu / wall : 0
    ok = ratio <= 1.02 && load < 0.02
    printf "download benchmark: %d records (%d rows) at %d baud in %.2f s; wire minimum %.2f s (%d bytes): %.3fx; %.3f CPU s in all, %.4f CPU s per s; %s\n",
        records, rows, baud, wall, minimum, bytes, ratio, cpu, load,
        ok ? "meets target (<= 1.02x, < 0.02 CPU s/s)" : "misses target (<= 1.02x, < 0.02 CPU s/s)"
    exit ok ? 0 : 1
}'
