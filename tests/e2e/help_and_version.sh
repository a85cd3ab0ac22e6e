#!/bin/bash
# --help and --version of the three programs: anywhere on the line, exit 0, print on
# stdout, and never need a display. Each --help names its manual page.
# Usage: help_and_version.sh BIN_DIR VERSION
set -uo pipefail
bin=$1
version=$2
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# program | arguments | what stdout must hold
rows=(
    "meterlink|--help|man meterlink"
    "meterlink|--version|meterlink $version"
    "meterlink|-platform xcb --version|meterlink $version"
    "meterlink-cli|--help|man meterlink-cli"
    "meterlink-cli|download --help|man meterlink-cli"
    "meterlink-cli|--version|meterlink-cli $version"
    "meterlink-cli|--port 1 --version|meterlink-cli $version"
    "meterlink-cli|download --slave --version|meterlink-cli $version"
    "meterlink-cli|ports --bogus --version|meterlink-cli $version"
    "meterlink-sim|--help|man meterlink-sim"
    "meterlink-sim|--version|meterlink-sim $version"
    "meterlink-sim|--link x --seed --version|meterlink-sim $version"
)
for row in "${rows[@]}"; do
    IFS='|' read -r program arguments expected <<<"$row"
    # shellcheck disable=SC2086 # the arguments are words
    out=$(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        timeout 20 "$bin/$program" $arguments 2>"$work/err")
    status=$?
    if [ $status -ne 0 ] || [[ "$out" != *"$expected"* ]]; then
        echo "FAILED: $program $arguments: exit $status, stdout \"${out:0:200}\"," \
            "stderr \"$(head -c 200 "$work/err")\"" >&2
        failed=1
    fi
done
exit $failed
