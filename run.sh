#!/usr/bin/env bash
# Installs what is missing, builds meterlink, and runs the main job.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DMETERLINK_TESTS=OFF
cmake --build build -j "$(nproc)"

# The main job: a simulated meter with a few thousand logged records on a pseudo-terminal
# that demo/com1 points to, so that Comm1 in demo/ reaches it.
mkdir -p demo
sim_pid=
stop_simulator() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
}
trap stop_simulator EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

coproc SIM { exec build/bin/meterlink-sim --link demo/com1 --records 3000; }
sim_pid=$SIM_PID
if ! read -r -t 30 ready <&"${SIM[0]}" || [[ $ready != "meterlink-sim ready:"* ]]; then
    echo "run.sh: the simulated meter did not start" >&2
    exit 1
fi
echo "$ready"

cd demo
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Opening the window in demo/: Comm1 is the simulated meter. Download Data stores the log."
    status=0
    ../build/bin/meterlink || status=$?
    echo "The CSV file is the one named on the Download tab, in $(pwd) unless a path was given" \
        "(by default $(pwd)/Logdata.csv)."
    exit "$status"
fi

echo "No display here: downloading with meterlink-cli in demo/."
status=0
../build/bin/meterlink-cli download --port 1 --out Logdata.csv || status=$?
if [ "$status" -eq 0 ]; then
    echo "The downloaded log is in $(pwd)/Logdata.csv ($(($(wc -l <Logdata.csv) - 1)) rows)."
else
    echo "run.sh: meterlink-cli download exited with $status" >&2
fi
exit "$status"
