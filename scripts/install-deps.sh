#!/usr/bin/env bash
# Installs what building, running and testing meterlink need, on Debian or Ubuntu.
# Only what is missing is installed; apt-get runs through sudo when we are not root.
set -euo pipefail

packages=(
    build-essential cmake ninja-build ccache pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    qt6-charts-dev qt6-svg-dev libqt6opengl6-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool openbox imagemagick fonts-dejavu-core
    socat mbpoll python3 python3-pymodbus libmodbus-dev
    locales desktop-file-utils python3-serial python3-serial-asyncio
    clang libclang-rt-14-dev
    g++-mingw-w64-x86-64-posix
    systemd
    lintian appstream man-db bash-completion
    libreoffice-calc-nogui
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
