#!/usr/bin/env bash
# Installs what is missing, builds meterlink, and runs the main job.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DMETERLINK_TESTS=OFF
cmake --build build -j "$(nproc)"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec build/bin/meterlink
fi
echo "Built build/bin/meterlink. There is no display here, so the window was not opened."
