#!/usr/bin/env bash
# Fails when a header only Linux has is included outside the files that the build compiles
# on Linux alone (the list CMake writes at configure time).
#   check_linux_only_headers.sh SOURCE_DIR LINUX_ONLY_LIST
set -uo pipefail
source_dir=$1
list=$2

pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(sys/signalfd\.h|sys/inotify\.h|sys/epoll\.h|linux/|asm/)'
status=0
while IFS= read -r -d '' file; do
    if grep -Eq "$pattern" "$file" && ! grep -qxF "$file" "$list"; then
        echo "Linux-only header outside the Linux-only files: $file"
        grep -En "$pattern" "$file"
        status=1
    fi
done < <(find "$source_dir" \( -name 'build*' -o -name '.git' \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0)
exit $status
