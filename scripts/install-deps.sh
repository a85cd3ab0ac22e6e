#!/usr/bin/env bash
# Installs what building, running and testing meterlink need, on Debian or Ubuntu.
#   install-deps.sh build   what building needs (compilers, Qt, the test libraries);
#   install-deps.sh tools   what the tests drive (X server, pty and Modbus tools, cross compiler,
#                           packaging checkers, a spreadsheet); test.sh installs these while the
#                           first build compiles;
#   install-deps.sh         both.
# Only what is missing is installed; apt-get runs through sudo when we are not root.
set -euo pipefail

build=(
    build-essential cmake ninja-build ccache pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    qt6-charts-dev qt6-svg-dev libqt6opengl6-dev
    libgtest-dev libgmock-dev libbenchmark-dev libmodbus-dev
    clang libclang-rt-14-dev
)
tools=(
    xvfb xauth xdotool openbox imagemagick fonts-dejavu-core
    socat mbpoll python3 python3-pymodbus
    locales desktop-file-utils python3-serial python3-serial-asyncio
    g++-mingw-w64-x86-64-posix
    systemd
    lintian appstream man-db bash-completion
    libreoffice-calc-nogui
)

case "${1:-all}" in
build) packages=("${build[@]}") ;;
tools) packages=("${tools[@]}") ;;
all) packages=("${build[@]}" "${tools[@]}") ;;
*)
    echo "usage: $0 [build|tools]" >&2
    exit 64
    ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
# One update an hour is enough: the tools install follows the build install by minutes.
if [ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*_Packages*' -mmin -60 2>/dev/null | head -1)" ]; then
    $sudo apt-get update -q
fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
