#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. The exit status is the result.
#   1. the release build and all its tests, the Windows compile check among them;
#   2. the tests of the real serial path again over the QSerialPort adapter, the port the
#      Windows build uses (build-qtport);
#   3. the same tests as 1 built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (build-asan), on the POSIX port;
#   4. a short run of each fuzz target (build-fuzz), when clang is there.
# Most tests wait on simulated meters rather than compute, so each pass's tests run while the
# next pass compiles; the compiler runs niced so that the tests' timing stays that of a quiet
# machine. Each pass's log is printed whole when its tests end.
set -euo pipefail
cd "$(dirname "$0")"

start=$SECONDS
mkdir -p build-logs
# A failed build ends the script; tests still running in the background end with it.
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
./scripts/install-deps.sh build
# The tests' own tools arrive while the release build compiles.
./scripts/install-deps.sh tools >build-logs/install-tools.log 2>&1 &
tools_pid=$!

jobs=$(nproc)
# Paths inside the tree are hashed relative to it, so the Qt port's build below takes every
# file that it compiles the same way from the release build's cache.
export CCACHE_BASEDIR="$PWD"
# The cross compiler is installed above: its check must run, not skip.
export METERLINK_REQUIRE_WINDOWS_CHECK=1

timings=()
failed=()
declare -A test_pid test_began

# Runs a pass's tests in the background, its output to build-logs/NAME.log.
start_tests() {
    local name=$1
    shift
    test_began[$name]=$SECONDS
    "$@" >"build-logs/$name.log" 2>&1 &
    test_pid[$name]=$!
}

# Waits for a pass's tests, prints their log and notes the result.
finish_tests() {
    local name=$1 status=0
    wait "${test_pid[$name]}" || status=$?
    echo "==== $name tests ===="
    cat "build-logs/$name.log"
    timings+=("$name tests: $((SECONDS - test_began[$name])) s")
    if [ "$status" -ne 0 ]; then
        failed+=("$name")
    fi
}

build_pass() {
    local name=$1 began=$SECONDS
    shift
    echo "==== $name build ===="
    nice -n 10 "$@"
    timings+=("$name build: $((SECONDS - began)) s")
}

began=$SECONDS
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DMETERLINK_TESTS=ON
cmake --build build -j "$jobs"
timings+=("release build: $((SECONDS - began)) s")
if ! wait "$tools_pid"; then
    cat build-logs/install-tools.log >&2
    echo "test.sh: installing the tests' tools failed" >&2
    exit 1
fi
start_tests release ctest --test-dir build --output-on-failure -j "$jobs"

# The code under test at -O1 with line tables; the tests' own files as in the release build,
# from its cache. The benchmarks are not built here.
build_pass asan bash -c "cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DMETERLINK_TESTS=ON -DMETERLINK_SANITIZE=ON -DMETERLINK_BENCHMARKS=OFF &&
    cmake --build build-asan -j $jobs"

# Any sanitizer report fails the test that caused it. Leaks count too; the suppressions name
# Qt's own allocations that live until exit, never ours.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
start_tests asan ctest --test-dir build-asan --output-on-failure -j "$jobs"
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

# The link on a pty, the end-to-end downloads and display polling, and the fault suite, with
# the programs on the QSerialPort adapter; the cases that build a POSIX port of their own
# (refused speed, exclusive use) run in the release pass.
build_pass qtport bash -c "cmake -S . -B build-qtport -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DMETERLINK_TESTS=ON -DMETERLINK_QT_SERIAL_PORT=ON &&
    cmake --build build-qtport -j $jobs --target posix_serial_port_test cli_end_to_end_test \
        window_end_to_end_test meterlink-cli meterlink-sim"
start_tests qtport ctest --test-dir build-qtport --output-on-failure -j "$jobs" \
    -R '^(PosixPort|CliEndToEndTest|WindowAgainstSimulator)\.|^faults$' -E 'RefusedLineSpeed|ExclusiveUse'

if command -v clang++ >/dev/null; then
    build_pass fuzz bash -c "CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMETERLINK_FUZZ=ON -DMETERLINK_TESTS=OFF &&
        cmake --build build-fuzz --target meterlink_fuzzers -j $jobs"
    start_tests fuzz ctest --test-dir build-fuzz/fuzz --output-on-failure -j "$jobs"
else
    echo "test.sh: clang++ not found; the fuzz targets are not run"
fi

finish_tests release
finish_tests qtport
if command -v clang++ >/dev/null; then
    finish_tests fuzz
fi
finish_tests asan

echo "==== times ===="
printf '%s\n' "${timings[@]}" "all: $((SECONDS - start)) s"
if [ ${#failed[@]} -ne 0 ]; then
    echo "test.sh: failed: ${failed[*]} (see above, or build-logs/)" >&2
    exit 1
fi
echo "test.sh: every pass succeeded"
