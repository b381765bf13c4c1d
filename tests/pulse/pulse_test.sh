#!/usr/bin/env bash
# The real program against a real sound server: a PulseAudio daemon of the
# test's own, with a null sink "speaker" and a pipe source "mic" fed with a
# 440 Hz tone at the pace of a microphone. The program records through
# libpulse (through SDL's pulseaudio driver with SDL_WAY=1), then plays a
# 1000 Hz file chosen with Open; both tones must come through with their
# pitch and level. Exit code 77: the daemon
# cannot start on this machine. KEEP=1 keeps the temporary folder.
set -u
recorder=$(realpath "$1")
template="$(cd "$(dirname "$0")/../../scripts" && pwd)/test1.wav"
# No spaces here: the server address below is split at whitespace.
. "$(dirname "$0")/private_pulse.sh"
begin_pulse_test recorder-pulse

mkdir -p "$work/app"
start_private_pulse "$work" </dev/null || skip "no private PulseAudio daemon"

# From here on anything that goes wrong is a failure.
pactl load-module module-null-sink sink_name=speaker rate=44100 channels=2 >/dev/null &&
  pactl load-module module-pipe-source source_name=mic "file=$work/mic.fifo" format=s16le rate=44100 channels=2 >/dev/null &&
  pactl set-default-sink speaker && pactl set-default-source mic ||
  { echo "FAIL: the daemon does not take the sink and source"; exit 1; }

# 0.1 s of 440 Hz is 44 whole periods, so the chunk repeats seamlessly. It is
# written one chunk ahead and then once every 0.1 s, like a microphone; time
# lost while the fifo was full is not made up with a burst.
raw=(-r 44100 -c 2 -b 16 -e signed -t raw)
sox -n "${raw[@]}" "$work/chunk440.raw" synth 0.1 sine 440 vol 0.5
feed() {
  local next now left
  cat "$work/chunk440.raw"
  next=${EPOCHREALTIME//[.,]/} # microseconds
  while cat "$work/chunk440.raw"; do
    next=$((next + 100000)) now=${EPOCHREALTIME//[.,]/}
    left=$((next - now))
    if [ $left -gt 0 ]; then sleep "0.$(printf %06d $left)"; else next=$now; fi
  done
}
feed >"$work/mic.fifo" &
feed_pid=$!
sox -n -r 44100 -c 2 -b 16 -e signed "$work/tone1000.wav" synth 3 sine 1000 vol 0.5

# measure FILE [sox input options]: "seconds rms frequency" of the first
# stretch of sound, after any leading silence, both channels mixed.
measure() {
  local f=$1; shift
  sox "$@" "$f" -n remix - silence 1 0.01 1% 1 0.05 1% stat 2>&1 |
    awk '/^Length/{l=$3} /^RMS +amplitude/{r=$3} /^Rough +frequency/{f=$3} END{print l+0, r+0, f+0}'
}
# tone WHAT "seconds rms frequency" HZ MIN_SECONDS: the sound lasts without
# a gap, at the level of the half-scale tones fed in and the tone's pitch.
tone() {
  read -r secs rms hz <<<"$2"
  say "$1: ${secs} s of sound, RMS $rms, about $hz Hz"
  awk -v s="$secs" -v m="$4" 'BEGIN{exit !(s >= m)}' || bad "$1 lasts $secs s, not at least $4 s"
  awk -v r="$rms" -v e="$ref_rms" 'BEGIN{exit !(r > e * 0.85 && r < e * 1.15)}' ||
    bad "$1 has RMS $rms, expected about $ref_rms"
  awk -v f="$hz" -v e="$3" 'BEGIN{exit !(f > e * 0.97 && f < e * 1.03)}' || bad "$1 is at $hz Hz, not $3 Hz"
}
ref_rms=$(measure "$work/tone1000.wav" | awk '{print $2}')

. "$(dirname "$0")/window.sh"
start_x_server || { echo "FAIL: no X server"; exit 1; }
[ -n "${SDL_WAY:-}" ] && export SDL_AUDIODRIVER=pulseaudio
cp "$template" "$work/app/test1.wav"
start_recorder "$recorder" "$work/app" || { echo "FAIL: no window"; exit 1; }

# 1. Record about 1.5 s from the microphone, then Stop.
click $record
sleep 1.5
click $stop
sleep 0.5
if soxi "$work/app/Temp.wav" >/dev/null 2>&1; then
  tone "the recording" "$(measure "$work/app/Temp.wav")" 440 0.8
else
  bad "no valid Temp.wav after Record and Stop"
fi

# 2. Open the 1000 Hz file, Play it, and listen on the speaker's monitor. A
# null sink that has never run renders two seconds ahead on its first start
# and asks for nothing more meanwhile, whoever plays: a short sound starts it.
parec -d speaker.monitor --latency-msec=20 --raw --format=s16le --rate=44100 --channels=2 >"$work/monitor.raw" &
mon_pid=$!
sox -n -r 44100 -c 2 -b 16 -t wav - synth 0.05 sine 300 vol 0.01 | paplay
sleep 2
choose_file "$work/tone1000.wav" || { echo "FAIL: the file was not chosen"; exit 1; }
click $play
sleep 1.5
kill $mon_pid; wait $mon_pid 2>/dev/null; mon_pid=''
tone "the speaker" "$(measure "$work/monitor.raw" "${raw[@]}")" 1000 1

cmp -s "$work/app/test1.wav" "$template" || bad "test1.wav changed"
kill -0 $pid 2>/dev/null || bad "the program is gone"
exit $fail
