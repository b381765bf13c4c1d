#!/usr/bin/env bash
# Builds the recorder and starts it in run/, a working folder that holds the
# recording template "test1.wav". Recordings are saved there as "Temp.wav".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
mkdir -p "$root/run"
[ -f "$root/run/test1.wav" ] || cp "$root/scripts/test1.wav" "$root/run/test1.wav"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: to run the recorder headless, use: xvfb-run $0" >&2
  exit 1
fi
cd "$root/run"
exec "${BUILD_DIR:-$root/build}/app/recorder"
