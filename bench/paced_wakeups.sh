#!/usr/bin/env bash
# Downloads a 64 KB log (8192 records) at 38400 baud from meterlink-sim paced a byte at a
# time (--pace byte: each byte when the line would carry it, as a real line does), with
# each meterlink-cli given, in turns against the same simulator, and prints per program
# the median of its runs: wall time, processor time, processor time per wall second, and
# from a run under strace its ppoll, poll and read calls (and the reads that found nothing).
# Then the same programs read 10 registers from address 24 REPEAT times against the
# unpaced simulator.
#
#   bench/paced_wakeups.sh [-r RUNS] [-n REPEAT] [-s SIM] CLI...
#
# RUNS defaults to 3, REPEAT to 10000, SIM to build/bin/meterlink-sim. Give the program
# of the commit before a change first and the one after it second to compare them on the
# same machine at the same time. Exit status: 0 when the runs went through, 2 otherwise.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=3
repeat=10000
sim=$root/build/bin/meterlink-sim
records=8192
baud=38400
while getopts r:n:s: option; do
    case $option in
    r) runs=$OPTARG ;;
    n) repeat=$OPTARG ;;
    s) sim=$OPTARG ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
clis=()
for cli in "$@"; do clis+=("$(realpath "$cli")"); done
set -- "${clis[@]}"
sim=$(realpath "$sim")
[ $# -ge 1 ] || { echo "paced_wakeups: name at least one meterlink-cli" >&2; exit 2; }
for program in "$sim" "$@"; do
    [ -x "$program" ] || { echo "paced_wakeups: $program is missing" >&2; exit 2; }
done
for tool in strace /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "paced_wakeups: $tool is needed" >&2; exit 2; }
done

work=$(mktemp -d)
sim_pid=
stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
}
trap 'stop_sim; [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
trap 'exit 2' INT TERM

# Starts the simulator on $work/com1 with the options given.
start_sim() {
    stop_sim
    coproc SIM { exec "$sim" --link "$work/com1" --records "$records" "$@"; }
    sim_pid=$SIM_PID
    local ready
    if ! read -r -t 20 ready <&"${SIM[0]}" || [[ $ready != "meterlink-sim ready:"* ]]; then
        echo "paced_wakeups: meterlink-sim did not get ready" >&2
        exit 2
    fi
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

# One download by program $1 into run folder $2; $3 = strace to count its calls.
download() {
    local cli=$1 dir=$2 traced=${3:-}
    mkdir -p "$dir"
    printf '[Commport]=1\r\n[CommBaud]=%s\r\n[CommFlow]=Hardware\r\n[CommSlaveID]=001\r\n[DownloadSaveFile]=Logdata.csv\r\n' \
        "$baud" >"$dir/6040dwn.ini"
    ln -sf "$work/com1" "$dir/com1"
    local status=0
    if [ -n "$traced" ]; then
        (cd "$dir" && strace -f -c -o calls.txt "$cli" download >cli.out 2>cli.err) || status=$?
    else
        (cd "$dir" && /usr/bin/time -o times.txt -f '%e %U %S' \
            "$cli" download --trace trace.log >cli.out 2>cli.err) || status=$?
    fi
    if [ "$status" -ne 0 ]; then
        echo "paced_wakeups: $cli exited with $status:" >&2
        cat "$dir/cli.out" "$dir/cli.err" >&2
        exit 2
    fi
}

# "calls errors" of one system call in an strace -c table.
calls_of() {
    awk -v name="$2" '$NF == name { if (NF == 6) print $4, $5; else print $4, 0 }' "$1"
}

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
start_sim --baud "$baud" --pace byte
for ((run = 1; run <= runs; run++)); do
    index=0
    for cli in "$@"; do
        index=$((index + 1))
        download "$cli" "$work/p$index/time$run"
        download "$cli" "$work/p$index/strace$run" strace
    done
done

wire_bytes=$(awk '$2 == "TX" || $2 == "RX" { n += NF - 2 - ($3 == "(resend)") } END { print n + 0 }' \
    "$work/p1/time1/trace.log")
wire=$(awk -v b="$wire_bytes" -v baud="$baud" 'BEGIN { printf "%.3f", b * 10 / baud }')
echo "paced download: $records records at $baud baud, $runs runs each; wire minimum $wire s ($wire_bytes bytes)"
index=0
for cli in "$@"; do
    index=$((index + 1))
    dir=$work/p$index
    wall=$(for r in "$dir"/time*/times.txt; do awk '{ print $1 }' "$r"; done | median)
    cpu=$(for r in "$dir"/time*/times.txt; do awk '{ print $2 + $3 }' "$r"; done | median)
    ppoll=$(for r in "$dir"/strace*/calls.txt; do calls_of "$r" ppoll | awk '{ print $1 }'; done | median)
    polls=$(for r in "$dir"/strace*/calls.txt; do calls_of "$r" poll | awk '{ print $1 }'; done | median)
    reads=$(for r in "$dir"/strace*/calls.txt; do calls_of "$r" read | awk '{ print $1 }'; done | median)
    empty=$(for r in "$dir"/strace*/calls.txt; do calls_of "$r" read | awk '{ print $2 }'; done | median)
    awk -v cli="$cli" -v wall="$wall" -v cpu="$cpu" -v wire="$wire" -v ppoll="${ppoll:-0}" -v polls="${polls:-0}" \
        -v reads="${reads:-0}" -v empty="${empty:-0}" 'BEGIN {
        printf "  %s: wall %.3f s (wire + %.3f s), CPU %.3f s, %.4f CPU s per s; ppoll %d, poll %d, read %d (%d found nothing)\n",
            cli, wall, wall - wire, cpu, (wall > 0 ? cpu / wall : 0), ppoll, polls, reads, empty
    }'
done

start_sim
echo "register reads: read 24 10 --repeat $repeat against the unpaced simulator"
for ((run = 1; run <= runs; run++)); do
    index=0
    for cli in "$@"; do
        index=$((index + 1))
        dir=$work/r$index
        mkdir -p "$dir"
        (cd "$dir" && /usr/bin/time -o "times$run.txt" -f '%e %U %S' \
            "$cli" read 24 10 --repeat "$repeat" --device "$work/com1" --baud "$baud" \
            >cli.out 2>cli.err) || {
            echo "paced_wakeups: $cli read failed:" >&2
            cat "$dir/cli.err" >&2
            exit 2
        }
    done
done
index=0
for cli in "$@"; do
    index=$((index + 1))
    dir=$work/r$index
    wall=$(for r in "$dir"/times*.txt; do awk '{ print $1 }' "$r"; done | median)
    cpu=$(for r in "$dir"/times*.txt; do awk '{ print $2 + $3 }' "$r"; done | median)
    echo "  $cli: wall $wall s, CPU $cpu s"
done
