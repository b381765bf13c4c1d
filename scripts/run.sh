#!/usr/bin/env bash
# Builds the recorder alone (no tests, in build-run/) and starts it in run/,
# a working folder that holds the recording template "test1.wav". Recordings
# are saved there as "Temp.wav".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: to run the recorder headless, use: xvfb-run $0" >&2
  exit 1
fi
"$root/scripts/deps.sh" run
build=${RUN_BUILD_DIR:-$root/build-run}
BUILD_DIR=$build "$root/scripts/build.sh" -DRECORDER_TESTS=OFF
mkdir -p "$root/run"
[ -f "$root/run/test1.wav" ] || cp "$root/scripts/test1.wav" "$root/run/test1.wav"
cd "$root/run"
exec "$build/app/recorder"
