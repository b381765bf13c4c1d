#!/usr/bin/env bash
# A sound server with a microphone but no speaker: a private PulseAudio
# daemon with only a null source. SDL's PulseAudio code can crash on such a
# server; the engine must instead say, for Play and for Record alike, that
# the device is missing, and go on. Runs the no-device test binary given
# (its cases hold for any server without a usable device) against that
# daemon. Exit code 77: the daemon cannot start on this machine.
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
pactl load-module module-null-source source_name=mic >/dev/null ||
  { echo "FAIL: the daemon does not take the source"; exit 1; }

SDL_AUDIODRIVER=pulseaudio "$test_binary"
