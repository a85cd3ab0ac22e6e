#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. The exit status is the result.
#   1. the release build and all its tests;
#   2. the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan);
#   3. a short run of each fuzz target (build-fuzz), when clang is there.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DMETERLINK_TESTS=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# Any sanitizer report fails the test that caused it. Leaks count too; the suppressions name
# Qt's own allocations that live until exit, never ours.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMETERLINK_SANITIZE=ON
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
