#!/bin/bash
# The collection units as installed: systemd-analyze verify must accept them without a
# word. Skips (77) where systemd-analyze is not installed.
# Usage: systemd_units.sh BUILD_DIR
set -euo pipefail
build=$1
command -v systemd-analyze >/dev/null || exit 77
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
units=$stage/usr/lib/systemd/system
for unit in meterlink-collect@.service meterlink-collect@.timer; do
    [ -f "$units/$unit" ] || { echo "not installed: $unit" >&2; exit 1; }
done
[ -x "$stage/usr/bin/meterlink-cli" ] || { echo "meterlink-cli not installed" >&2; exit 1; }
# The unit names the installed program; here it lies in the staging folder.
sed -i "s|/usr/bin/meterlink-cli|$stage/usr/bin/meterlink-cli|" "$units/meterlink-collect@.service"
said=$(cd "$units" && systemd-analyze verify ./meterlink-collect@site1.service \
    ./meterlink-collect@site1.timer 2>&1) || { echo "$said" >&2; exit 1; }
if [ -n "$said" ]; then
    echo "$said" >&2
    exit 1
fi
