#!/usr/bin/env bash
# Builds the recorder and runs the whole test suite: once in a plain build,
# then once more under AddressSanitizer and UndefinedBehaviorSanitizer (built
# with clang), where the libFuzzer targets also run for a minute each.
# Set QUICK=1 to skip the sanitizer pass.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" test

plain=${BUILD_DIR:-$root/build}
BUILD_DIR=$plain "$root/scripts/build.sh"
(cd "$plain" && ctest --output-on-failure -j2 --timeout 600)

[ "${QUICK:-0}" = 1 ] && exit 0
asan=${ASAN_BUILD_DIR:-$root/build-asan}
CC=clang CXX=clang++ BUILD_DIR=$asan "$root/scripts/build.sh" -DRECORDER_SANITIZE=ON -DRECORDER_FUZZ=ON
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$asan" && ctest --output-on-failure -j2 --timeout 900)
