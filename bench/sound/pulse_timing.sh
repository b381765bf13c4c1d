#!/usr/bin/env bash
# Runs pulse_timing (its arguments follow) against a private PulseAudio
# daemon with a null sink "speaker".
set -u
work=$(mktemp -d "${TMPDIR:-/tmp}/recorder-timing.XXXXXX")
pa_pid=''
trap '[ -z "$pa_pid" ] || kill "$pa_pid"; rm -rf "$work"' EXIT
. "$(dirname "$0")/../../tests/pulse/private_pulse.sh"
start_private_pulse "$work" </dev/null || { echo "pulse_timing: no private PulseAudio daemon"; exit 0; }
pactl load-module module-null-sink sink_name=speaker rate=44100 channels=2 >/dev/null && pactl set-default-sink speaker
"$@"
