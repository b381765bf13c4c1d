#!/usr/bin/env bash
# A sound server with neither speaker nor microphone: a private PulseAudio
# daemon with no sink and no source, reached the way a desktop's is (no SDL
# driver asked for). The engine must say, for Play and for Record alike,
# that the device is missing, and go on. Runs the no-device test binary
# given (its cases hold for any server without a usable device) against
# that daemon. Exit code 77: the daemon cannot start on this machine.
set -u
test_binary=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/recorder-nosink.XXXXXX")
pa_pid=''
cleanup() {
  [ -z "$pa_pid" ] || { kill "$pa_pid" 2>/dev/null; wait "$pa_pid" 2>/dev/null; }
  rm -rf "$work"
}
trap cleanup EXIT
skip() { echo "SKIP: $*"; exit 77; }

. "$(dirname "$0")/private_pulse.sh"
start_private_pulse "$work" </dev/null || skip "no private PulseAudio daemon"
unset SDL_AUDIODRIVER
"$test_binary"
