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
# A microphone for the recordings: the monitor of a sink that plays a tone.
pactl load-module module-null-sink sink_name=room rate=44100 channels=2 >/dev/null &&
  pactl load-module module-sine sink=room frequency=440 >/dev/null &&
  pactl load-module module-remap-source master=room.monitor source_name=mic >/dev/null && pactl set-default-source mic
# A null sink that has never run renders two seconds ahead on its first start
# and asks for nothing meanwhile, whoever plays: start it with a short sound.
sox -q -n -r 44100 -c 2 -b 16 -e signed "$work/start.wav" trim 0 0.3 2>/dev/null &&
  paplay "$work/start.wav" 2>/dev/null
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$@"
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
