#!/usr/bin/env bash
# Compiles every source of the Windows build (as CMake listed it at configure time) with
# MinGW-w64 against the installed Qt headers, then links the Qt-free system pieces into a
# small program, so that a missing Windows function fails as well as a missing header.
#   check_windows_build.sh SOURCE_DIR LIST_DIR
set -uo pipefail
source_dir=$1
list_dir=$2
compiler=${MINGW_CXX:-x86_64-w64-mingw32-g++-posix}

if ! command -v "$compiler" >/dev/null; then
    echo "check_windows_build: $compiler not found"
    [ -n "${METERLINK_REQUIRE_WINDOWS_CHECK:-}" ] && exit 1
    exit 77
fi

flags=(-std=c++17 -Wall -Wextra -Wno-attributes -I"$source_dir")
# Qt's tagging of its version refers to a symbol of the Linux libraries.
flags+=(-DQT_NO_VERSION_TAGGING)
# The version CMake gives the programs' --version.
flags+=('-DMETERLINK_VERSION="0"')
while read -r dir; do
    [ -n "$dir" ] && flags+=(-I"$dir")
done <"$list_dir/qt_include_dirs.txt"

mapfile -t sources < <(grep -v '^$' "$list_dir/windows_sources.txt")
if [ ${#sources[@]} -eq 0 ]; then
    echo "check_windows_build: no sources listed in $list_dir/windows_sources.txt"
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export compiler work
printf '%s\n' "${flags[@]}" >"$work/flags"
compile_one() {
    mapfile -t f <"$work/flags"
    if ! "$compiler" -fsyntax-only "${f[@]}" "$1" >"$work/$(basename "$1").log" 2>&1; then
        echo "FAILED: $1"
        cat "$work/$(basename "$1").log"
        return 1
    fi
}
export -f compile_one
status=0
printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -I{} bash -c 'compile_one "$1"' _ {} ||
    status=1

mapfile -t pieces < <(grep -v '^$' "$list_dir/windows_system_pieces.txt")
if ! "$compiler" -std=c++17 -Wall -Wextra -I"$source_dir" -static \
    "$source_dir/scripts/windows_link_check.cpp" "${pieces[@]}" -o "$work/link_check.exe"; then
    echo "FAILED: linking the system pieces for Windows"
    status=1
fi

if [ $status -eq 0 ]; then
    echo "check_windows_build: ${#sources[@]} sources compiled and ${#pieces[@]} system pieces linked"
fi
exit $status
