#!/usr/bin/env bash
# Builds the recorder and runs the whole test suite: once in a plain build,
# then once more under AddressSanitizer and UndefinedBehaviorSanitizer (built
# with clang), where the libFuzzer targets also run. The tests labelled
# whole_program (see tests/CMakeLists.txt) run in the plain build only.
# The plain tests mostly wait on sound played in real time, so the sanitizer
# build is made meanwhile, at a lower priority than the tests; its output
# goes to build.log in its folder, shown if it fails.
# Set QUICK=1 to skip the sanitizer pass.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" test

plain=${BUILD_DIR:-$root/build}
BUILD_DIR=$plain "$root/scripts/build.sh"
ctest --test-dir "$plain" --output-on-failure -j2 --timeout 600 &
plain_tests=$!

asan=${ASAN_BUILD_DIR:-$root/build-asan}
built=1
if [ "${QUICK:-0}" != 1 ]; then
  mkdir -p "$asan"
  CC=clang CXX=clang++ BUILD_DIR=$asan nice -n 10 "$root/scripts/build.sh" -DRECORDER_SANITIZE=ON \
    -DRECORDER_FUZZ=ON >"$asan/build.log" 2>&1 || built=0
fi
wait $plain_tests
[ $built = 1 ] || { cat "$asan/build.log"; echo "The sanitizer build failed." >&2; exit 1; }
[ "${QUICK:-0}" = 1 ] && exit 0

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$asan" --output-on-failure -j2 --timeout 900 -LE whole_program
