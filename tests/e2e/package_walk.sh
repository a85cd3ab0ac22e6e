#!/bin/bash
# The .deb as a technician meets it: Debian's checker finds no error, the AppStream
# metadata validates, the manual and the completion know every command and option, and
# the README's "Collect every night" steps run as written, as far as a machine without
# systemd as PID 1 allows: the package unpacked into a throwaway root, the units checked
# with systemd-analyze verify, the package's user made from its sysusers entry (in a
# private copy of /etc), and the service's command line run through runuser as that
# user against meterlink-sim on a device owned by dialout.
# Skips (77) unless root with cpack, systemd-analyze, systemd-sysusers and unshare.
# Usage: package_walk.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(realpath "$1")
source_dir=$(realpath "$2")
for tool in cpack dpkg-deb systemd-analyze systemd-sysusers unshare runuser; do
    command -v $tool >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "skipped: making the package's user needs root"; exit 77; }
# A sanitizer build is no package: its programs need the sanitizers' libraries and options.
if grep -q '^METERLINK_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
    echo "skipped: a sanitizer build is not packaged"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

(cd "$work" && cpack -G DEB -B "$work/pkg" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(echo "$work"/pkg/meterlink_*.deb)
root=$work/root
dpkg-deb -x "$deb" "$root"

if command -v lintian >/dev/null; then
    said=$(lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1) ||
        { echo "$said" >&2; fail "lintian reports errors"; }
    grep -v 'root privileges' <<<"$said" || true
else
    echo "lintian not installed: the package's check left out"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml ||
        fail "appstreamcli validate"
fi

# The manual names every command, every option each command's --help names, and every
# exit status.
cli=$root/usr/bin/meterlink-cli
manual=$(MANPATH=$root/usr/share/man MANWIDTH=200 man -P cat meterlink-cli 2>&1) ||
    fail "man meterlink-cli: $manual"
for command in download decode scan display key read ports; do
    [[ "$manual" == *"$command"* ]] || fail "the manual lacks the command $command"
    for option in $("$cli" $command --help | grep -o -- '--[a-z-]*' | sort -u); do
        [[ "$manual" == *"$option"* ]] || fail "the manual lacks $command's $option"
    done
done
exits=$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$manual")
for code in 0 1 2 3 4 5 6 64 65 130 143; do
    grep -qw -- "$code" <<<"$exits" || fail "the manual's exit status lacks $code"
done
for program in meterlink meterlink-sim; do
    MANPATH=$root/usr/share/man man -P cat $program >/dev/null 2>&1 || fail "man $program"
done

# The completion offers the commands, a command's options and an option's values.
completion=/usr/share/bash-completion/bash_completion
if [ -f $completion ]; then
    completes() { # WORDS... -> what the completion offers for the last word
        bash -c 'source "$1"; source "$2"; shift 2; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
                 COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}; _meterlink_cli; echo "${COMPREPLY[*]}"' \
            - $completion "$root/usr/share/bash-completion/completions/meterlink-cli" "$@"
    }
    [ "$(completes meterlink-cli dow)" = download ] || fail "completion of a command"
    [ "$(completes meterlink-cli download --ti)" = --timestamps ] || fail "completion of an option"
    [ "$(completes meterlink-cli download --on-restart f)" = fail ] || fail "completion of a value"
    [ "$(completes meterlink-cli read --rep)" = --repeat ] || fail "completion of read's option"
fi

[ -d "$root/etc/meterlink" ] && [ -d "$root/var/lib/meterlink" ] ||
    fail "the package makes no /etc/meterlink or /var/lib/meterlink"

# The README's steps, from its systemd paragraph up to the cron one.
steps=$(sed -n '/^\*\*systemd (the .deb installs the units)/,/^\*\*cron/p' "$source_dir/README.md" |
    grep '^    ' | sed 's/^ *//; s/  *#.*$//')
[ -n "$steps" ] || fail "no systemd steps found in the README"
# The package's user must reach the programs in the throwaway root.
chmod 755 "$work"

unshare -m bash -s "$root" "$work" "$build" "$steps" <<'INNER' || fail "the README's steps"
set -euo pipefail
root=$1 work=$2 build=$3 steps=$4
inroot() { sed -E "s#(^| )/(etc|var|usr)/#\1$root/\2/#g" <<<"$1"; }
# The user database in a private copy of /etc: the host's stays as it was.
cp -a /etc "$work/etc"
mount --bind "$work/etc" /etc
systemd-sysusers "$root/usr/lib/sysusers.d/meterlink.conf"
# A private /run with what the package's tmpfiles.d entries make at boot, and the lock
# folder every system has.
mount -t tmpfs tmpfs /run
mkdir -m 1777 /run/lock
for entry in "$root"/usr/lib/tmpfiles.d/*.conf; do
    [ -e "$entry" ] && systemd-tmpfiles --create "$entry"
done
id -nG meterlink | grep -qw dialout || { echo "the package's user is not in dialout" >&2; exit 1; }

# The meter, on a device owned as a serial port is (root:dialout, 0660).
sim_dir=$work/sim
mkdir "$sim_dir"
"$build/bin/meterlink-sim" --link "$sim_dir/ttyUSB0" --slave 1,2 --records 300 >"$work/sim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -q ready "$work/sim.out" && break; sleep 0.1; done
grep -q ready "$work/sim.out" || { cat "$work/sim.out" >&2; exit 1; }
device=$(readlink "$sim_dir/ttyUSB0")
chgrp dialout "$device"
chmod 0660 "$device"

ran=0
while read -r step; do
    case $step in
        "sudo install "* | "sudo cp "*)
            $(inroot "${step#sudo }") ;;
        "sudoedit "*)
            file=$(inroot "${step#sudoedit }")
            grep -q -- '--device ' "$file" || { echo "the example names no device" >&2; exit 1; }
            sed -i -E "s#--device [^ ]+#--device $device#" "$file" ;;
        "sudo systemctl enable --now "*.timer)
            timer=${step##* }
            service=${timer%.timer}.service
            site=${timer#*@}
            site=${site%.timer}
            units=$root/usr/lib/systemd/system
            # The units name the installed program, here in the throwaway root.
            sed -i "s#/usr/bin/meterlink-cli#$root/usr/bin/meterlink-cli#" "$units/meterlink-collect@.service"
            said=$(cd "$units" && MANPATH=$root/usr/share/man systemd-analyze verify "./$timer" "./$service" 2>&1) ||
                { echo "$said" >&2; exit 1; }
            [ -z "$said" ] || { echo "$said" >&2; exit 1; }
            # The service as systemd would start it: its environment file, its working
            # folder, its command line (${NAME} one word, $NAME split at blanks).
            unit=$units/meterlink-collect@.service
            value() { sed -n "s/^$1=//p" "$unit" | sed "s/%i/$site/g"; }
            declare -A env=()
            while IFS='=' read -r name rest; do
                [[ $name =~ ^[A-Z_][A-Z0-9_]*$ ]] && env[$name]=$rest
            done < "$(inroot "$(value EnvironmentFile)")"
            command=()
            for word in $(value ExecStart); do
                if [[ $word =~ ^\$\{([A-Z_]+)\}$ ]]; then
                    command+=("${env[${BASH_REMATCH[1]}]}")
                elif [[ $word =~ ^\$([A-Z_]+)$ ]]; then
                    command+=(${env[${BASH_REMATCH[1]}]})
                else
                    command+=("$word")
                fi
            done
            cd "$(inroot "$(value WorkingDirectory)")"
            status=0
            for key in "${!env[@]}"; do export "$key=${env[$key]}"; done
            timeout 120 "${command[@]}" >"$work/run.out" 2>&1 </dev/null || status=$?
            cat "$work/run.out"
            [ $status -eq 0 ] || { echo "the service's command exited $status" >&2; exit 1; }
            for slave in 1 2; do
                [ "$(stat -c %U "site-$slave.csv")" = meterlink ] ||
                    { echo "no site-$slave.csv written by meterlink" >&2; ls -l >&2; exit 1; }
            done
            cd /
            ran=1 ;;
        "systemctl list-timers"* | "journalctl "*)
            echo "left out (systemd is not PID 1 here): $step" ;;
        *)
            echo "a step this walk does not know: $step" >&2
            exit 1 ;;
    esac
done <<<"$steps"
[ $ran -eq 1 ] || { echo "the README's steps never start the service" >&2; exit 1; }
INNER
echo "walked: $(wc -l <<<"$steps") steps of the README"
