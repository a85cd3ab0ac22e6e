#!/usr/bin/env bash
# Reads 10 registers from address 24 REPEAT times with meterlink-cli and with a
# libmodbus master, each against the same fast libmodbus slave on an unpaced
# pseudo-terminal pair, and prints one summary line comparing the two.
#
#   bench/link_benchmark.sh [BUILD_DIR] [REPEAT] [ROUNDS]
#
# BUILD_DIR defaults to build (its bin/ needs meterlink-cli, libmodbus_server and
# libmodbus_master); REPEAT to 2000; ROUNDS to 3, alternating the two masters,
# the median round of each counts. Exit status: 0 when meterlink is at least as
# fast and uses no more CPU per transaction, 1 when it falls short, 2 on failure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
repeat=${2:-2000}
rounds=${3:-3}
bin=$(cd "$build" 2>/dev/null && pwd)/bin
for program in meterlink-cli libmodbus_server libmodbus_master; do
    if [ ! -x "$bin/$program" ]; then
        echo "link_benchmark: $bin/$program is missing; build it first" >&2
        exit 2
    fi
done
command -v socat >/dev/null || { echo "link_benchmark: socat is needed" >&2; exit 2; }

work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 2' INT TERM

# Waits (bounded) until a file exists or holds a pattern; polling, as there is
# nothing to block on.
wait_for() {
    local what=$1 pattern=${2:-} tries=100
    while [ $tries -gt 0 ]; do
        if [ -z "$pattern" ]; then
            [ -e "$what" ] && return 0
        else
            grep -q "$pattern" "$what" 2>/dev/null && return 0
        fi
        sleep 0.05
        tries=$((tries - 1))
    done
    return 1
}

# A fresh pty pair with the slave on end B; sets master_end.
start_line() {
    local dir=$1
    mkdir -p "$dir"
    socat -d -d "pty,raw,echo=0,link=$dir/A" "pty,raw,echo=0,link=$dir/B" 2>"$dir/socat.log" &
    pids+=($!)
    wait_for "$dir/A" && wait_for "$dir/B" || { echo "link_benchmark: socat gave no ptys" >&2; exit 2; }
    "$bin/libmodbus_server" "$dir/B" >"$dir/server.log" 2>&1 &
    pids+=($!)
    wait_for "$dir/server.log" "ready" || {
        echo "link_benchmark: the slave did not start:" >&2
        cat "$dir/server.log" >&2
        exit 2
    }
    master_end=$dir/A
}

# Prints "<transactions/s> <CPU s per 1000>" from a master's report line.
figures() {
    sed -n 's/.* \([0-9.][0-9.]*\) transactions\/s.* \([0-9.][0-9.]*\) CPU s per 1000.*/\1 \2/p' "$1" | tail -n 1
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

: >"$work/meterlink.txt"
: >"$work/libmodbus.txt"
for round in $(seq "$rounds"); do
    start_line "$work/line-libmodbus-$round"
    "$bin/libmodbus_master" "$master_end" "$repeat" 24 10 38400 >"$work/lm.out" 2>&1 || {
        echo "link_benchmark: the libmodbus master failed:" >&2
        cat "$work/lm.out" >&2
        exit 2
    }
    figures "$work/lm.out" >>"$work/libmodbus.txt"

    start_line "$work/line-meterlink-$round"
    # Run where no settings file is, so the options alone decide the link.
    (cd "$work" && "$bin/meterlink-cli" read 24 10 --repeat "$repeat" --device "$master_end" \
        --baud 38400 --slave 1) >"$work/ml.out" 2>&1 || {
        echo "link_benchmark: meterlink-cli failed:" >&2
        cat "$work/ml.out" >&2
        exit 2
    }
    figures "$work/ml.out" >>"$work/meterlink.txt"
    [ -s "$work/meterlink.txt" ] || {
        echo "link_benchmark: no figures in meterlink-cli's report:" >&2
        cat "$work/ml.out" >&2
        exit 2
    }
    echo "round $round: $(tail -n 1 "$work/lm.out")" >&2
    echo "round $round: meterlink-cli: $(grep -i 'transactions/s' "$work/ml.out" | tail -n 1)" >&2
done

ml_rate=$(cut -d' ' -f1 "$work/meterlink.txt" | median)
ml_cpu=$(cut -d' ' -f2 "$work/meterlink.txt" | median)
lm_rate=$(cut -d' ' -f1 "$work/libmodbus.txt" | median)
lm_cpu=$(cut -d' ' -f2 "$work/libmodbus.txt" | median)

verdict=$(awk -v mr="$ml_rate" -v mc="$ml_cpu" -v lr="$lm_rate" -v lc="$lm_cpu" 'BEGIN {
    ok = (mr >= lr && mc <= lc);
    printf "%s (speed %.2fx, CPU %.2fx of libmodbus)", ok ? "meets target" : "falls short",
        (lr > 0 ? mr / lr : 0), (lc > 0 ? mc / lc : 0) }')
printf 'link benchmark, %s x read 24 10, median of %s: meterlink %.0f transactions/s, %.4f CPU s/1000; libmodbus %.0f transactions/s, %.4f CPU s/1000; %s\n' \
    "$repeat" "$rounds" "$ml_rate" "$ml_cpu" "$lm_rate" "$lm_cpu" "$verdict"
case $verdict in meets*) exit 0 ;; *) exit 1 ;; esac
