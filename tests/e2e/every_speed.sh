#!/usr/bin/env bash
# Every baud rate of the Settings tab downloads through meterlink-cli and through the window
# against meterlink-sim on a pseudo-terminal: as root and as an ordinary user (uid 65534),
# each program twice in a row against the same simulator, so that the second open finds the
# terminal as the first one left it. The programs run as that user from copies in a folder it
# owns, wherever the build lives.
# Usage: every_speed.sh BIN_DIR WINDOW_DRIVER
set -uo pipefail
bin=$(realpath "$1")
driver=$(realpath "$2")
speeds=(1200 2400 4800 9600 14400 19200 38400)
ordinary=65534
records=20

users=(root ordinary)
if [ "$(id -u)" -ne 0 ]; then
    users=(self) # already an ordinary user
elif ! setpriv --reuid=$ordinary --regid=$ordinary --clear-groups true 2>/dev/null; then
    echo "every_speed: cannot run programs as uid $ordinary here (setpriv missing or refused);"
    echo "every_speed: an ordinary user's downloads are the point of this test, so it is skipped"
    exit 77
fi

failures=0
downloads=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

work=
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT

for user in "${users[@]}"; do
    # What runs a program as the user of this round.
    as_user=()
    [ "$user" = ordinary ] && as_user=(setpriv --reuid=$ordinary --regid=$ordinary --clear-groups --)
    # Not under $TMPDIR: that may be private to root.
    work=$(mktemp -d /tmp/meterlink-speed.XXXXXX)
    mkdir "$work/bin" "$work/run"
    cp "$bin/meterlink-cli" "$bin/meterlink-sim" "$driver" "$work/bin/"
    chmod 755 "$work" "$work/bin"
    export XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=offscreen
    # A sanitizer build names its suppressions by a path the user may not reach.
    if [[ ${LSAN_OPTIONS:-} =~ suppressions=([^:]*) ]]; then
        cp "${BASH_REMATCH[1]}" "$work/bin/lsan.supp"
        export LSAN_OPTIONS=${LSAN_OPTIONS/${BASH_REMATCH[1]}/$work/bin/lsan.supp}
    fi
    [ "$user" = ordinary ] && chown -R $ordinary:$ordinary "$work/run" && chown $ordinary "$work"
    chmod 700 "$work/run"
    cd "$work" || exit 1

    for speed in "${speeds[@]}"; do
        what="$user at $speed baud"
        coproc SIM { exec 2>&1; exec "${as_user[@]}" "$work/bin/meterlink-sim" --link com1 --records $records; }
        sim_pid=$SIM_PID
        ready=
        read -r -t 20 ready <&"${SIM[0]}"
        if [[ $ready != "meterlink-sim ready: "* ]]; then
            fail "$what: meterlink-sim did not start: $ready"
            wait "$sim_pid" 2>/dev/null
            sim_pid=
            continue
        fi
        if [ "$speed" = 1200 ]; then
            "${as_user[@]}" bin/meterlink-cli ports >ports.txt 2>&1
            grep -q '^  Comm1  /dev/pts/[0-9]* (by a link in this folder)$' ports.txt ||
                fail "$what: meterlink-cli ports does not show Comm1 on the link: $(cat ports.txt)"
        fi
        for run in 1 2; do
            downloads=$((downloads + 2))
            rm -f cli.csv Logdata.csv
            "${as_user[@]}" bin/meterlink-cli download --port 1 --baud "$speed" --out cli.csv >cli.txt 2>&1 ||
                fail "$what: meterlink-cli download, run $run: $(tail -n 2 cli.txt)"
            "${as_user[@]}" bin/window_download_driver "$speed" >window.txt 2>&1 ||
                fail "$what: window download, run $run: $(grep -v '^This plugin\|^QStandardPaths' window.txt)"
            [ -s cli.csv ] && cmp -s cli.csv Logdata.csv ||
                fail "$what: run $run: the window's and meterlink-cli's files differ or are empty"
            [ "$(cat cli.csv 2>/dev/null | grep -c .)" -gt 1 ] || fail "$what: run $run: no records in cli.csv"
        done
        grep -q "$speed" 6040dwn.ini || fail "$what: the window did not keep its baud rate"
        kill "$sim_pid"
        wait "$sim_pid" 2>/dev/null
        sim_pid=
    done
    cd / && rm -rf "$work"
    work=
done

if [ "$failures" -ne 0 ]; then
    echo "every_speed: $failures failures"
    exit 1
fi
echo "every_speed: $downloads downloads (${#speeds[@]} speeds; ${users[*]}; meterlink-cli and the window twice each): ok"
