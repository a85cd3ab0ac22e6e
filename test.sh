#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. The exit status is the result.
#   1. the release build and all its tests, the Windows compile check among them;
#   2. the tests of the real serial path again over the QSerialPort adapter, the port the
#      Windows build uses (build-qtport);
#   3. the same tests as 1 built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (build-asan), on the POSIX port;
#   4. a short run of each fuzz target (build-fuzz), when clang is there.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
jobs=$(nproc)
# Paths inside the tree are hashed relative to it, so the Qt port's build below takes every
# file that it compiles the same way from the release build's cache.
export CCACHE_BASEDIR="$PWD"

# The cross compiler is installed above: its check must run, not skip.
export METERLINK_REQUIRE_WINDOWS_CHECK=1
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DMETERLINK_TESTS=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The link on a pty, the end-to-end downloads and display polling, and the fault suite, with
# the programs on the QSerialPort adapter; the cases that build a POSIX port of their own
# (refused speed, exclusive use) ran above.
cmake -S . -B build-qtport -G Ninja -DCMAKE_BUILD_TYPE=Release -DMETERLINK_TESTS=ON \
    -DMETERLINK_QT_SERIAL_PORT=ON
cmake --build build-qtport -j "$jobs" --target posix_serial_port_test cli_end_to_end_test \
    window_end_to_end_test meterlink-cli meterlink-sim
ctest --test-dir build-qtport --output-on-failure -j "$jobs" \
    -R '^(PosixPort|CliEndToEndTest|WindowAgainstSimulator)\.|^faults$' -E 'RefusedLineSpeed|ExclusiveUse'

# Any sanitizer report fails the test that caused it. Leaks count too; the suppressions name
# Qt's own allocations that live until exit, never ours.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"

# -O1 with line tables: reports still name file and line, and the build takes far less time
# than at -O2 with full debug information; the benchmarks are not built here.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMETERLINK_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DMETERLINK_BENCHMARKS=OFF
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs"

if command -v clang++ >/dev/null; then
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMETERLINK_FUZZ=ON -DMETERLINK_TESTS=OFF
    cmake --build build-fuzz --target meterlink_fuzzers -j "$jobs"
    ctest --test-dir build-fuzz/fuzz --output-on-failure -j "$jobs"
else
    echo "test.sh: clang++ not found; the fuzz targets are not run"
fi
