#!/usr/bin/env bash
# The real program under Xvfb, left to choose its own way to a private sound
# server (libpulse), with a counting ramp both ways: every frame says where
# it came from, so a frame lost, repeated or late shows.
#   1. Recording from a 192 kHz pipe source fed at real-time pace, over
#      shared memory as desktops run it: Temp.wav holds the ramp with no frame
#      lost or repeated. Playing a ramp file: the speaker's monitor hears every
#      frame of it in order, from the first to the last.
#   2. A click on the scroll bar while playing: the monitor hears the new place
#      within about 100 ms; after Stop it is silent within about 100 ms (a
#      server queue that was not flushed plays on for half a second). Pause
#      and Play on the media player's bar: silent, then on from where it was.
#   3. A stream moved to another device with pactl goes on: playback is heard
#      on the new sink, the recording keeps growing.
# PIPEWIRE=1 runs it all through a private PipeWire (pipewire, WirePlumber
# and pipewire-pulse) instead of PulseAudio, recording at 48 kHz: PipeWire
# 0.3.65's pipe source at 192 kHz hands even parec its sound in 8192-frame
# pieces with silence between them. Exit code 77: the server cannot
# start here. KEEP=1 keeps the temporary folder.
# Usage: pulse_ramp_test.sh RECORDER RAMP_TOOL BOX_LOG_LIBRARY
set -u
recorder=$(realpath "$1") ramp=$(realpath "$2")
# shellcheck disable=SC2034 # read by window.sh
box_log=$(realpath "$3")
. "$(dirname "$0")/private_pulse.sh"
begin_pulse_test recorder-ramp

mkdir -p "$work/app"
export BOX_LOG="$work/boxes"
. "$(dirname "$0")/window.sh"
rate=192000
if [ -n "${PIPEWIRE:-}" ]; then
  rate=48000
  start_private_pipewire "$work" speaker other || skip "no private PipeWire"
else
  start_private_pulse "$work" </dev/null || skip "no private PulseAudio daemon"
  pactl load-module module-null-sink sink_name=speaker format=s32le rate=44100 channels=2 norewinds=1 >/dev/null &&
    pactl load-module module-null-sink sink_name=other format=s32le rate=44100 channels=2 norewinds=1 >/dev/null ||
    { echo "FAIL: the daemon does not take the sinks"; exit 1; }
fi
# From here on anything that goes wrong is a failure.
pactl load-module module-pipe-source source_name=mic "file=$work/mic.fifo" format=s32le rate=$rate channels=2 >/dev/null &&
  pactl set-default-sink speaker && pactl set-default-source mic ||
  { echo "FAIL: the server ($(pactl info | grep 'Server Name')) does not take the sink and source"; exit 1; }
"$ramp" feed $rate 2 >"$work/mic.fifo" &
feed_pid=$!
# A null sink that has never run renders two seconds ahead on its first
# start and asks for nothing more meanwhile, whoever plays: a short sound
# starts each one before anything is measured on it.
for sink in speaker other; do
  sox -n -r 44100 -c 2 -b 16 -t wav - synth 0.05 sine 300 vol 0.01 2>/dev/null | paplay -d $sink
done
# The monitors are listened to from here to the end: the first recording of a
# monitor hears nothing for its first two seconds.
listen() {
  parec -d "$1.monitor" --latency-msec=10 --raw --format=s32le --rate=44100 --channels=2 >"$work/$1.raw" 2>/dev/null &
  mon_pid="$mon_pid $!"
}
listen speaker
listen other
"$ramp" make 44100 2 2 "$work/ramp2.wav"
"$ramp" make 44100 2 8 "$work/ramp8.wav"

start_x_server || { echo "FAIL: no X server"; exit 1; }
sox -n -r $rate -c 2 -b 32 -e signed "$work/app/test1.wav" trim 0 0
start_recorder "$recorder" "$work/app" || { echo "FAIL: no window"; exit 1; }
for _ in $(seq 50); do [ -s "$work/speaker.raw" ] && [ -s "$work/other.raw" ] && break; sleep 0.1; done

# frames SINK: how many frames the sink's monitor has recorded by now.
frames() { echo $(($(stat -c %s "$work/$1.raw") / 8)); }
# heard SINK FROM [TO]: the runs of the ramp (see tests/support/ramp.cpp)
# that the sink's monitor heard from frame FROM on (to frame TO), one a line:
# "FRAME VALUE LENGTH".
heard() {
  sox -t raw -r 44100 -c 2 -b 32 -e signed "$work/$1.raw" "$work/$1.wav" &&
    "$ramp" runs "$work/$1.wav" | awk -v from="$2" -v to="${3:-1e12}" '$2 != 0 && $1 >= from && $1 < to'
}
# run_where CONDITION: the index in $heard of the first run for which the awk
# CONDITION on its start, value and len holds; -1 when none does.
run_where() {
  printf '%s\n' "${heard[@]}" |
    awk "{ start = \$1; value = \$2; len = \$3 } $1 { print NR - 1; found = 1; exit } END { if (!found) print -1 }"
}
# Milliseconds from frame A to frame B at 44.1 kHz.
ms() { echo $((($2 - $1) * 1000 / 44100)); }
# stream_of sink-inputs|source-outputs: the index of the program's stream.
stream_of() {
  pactl list "$1" | awk '/^(Sink Input|Source Output) #/ {id = substr($3, 2)}
                         /application.name = "Recorder"/ {print id; exit}'
}
no_box() {
  local box
  box=$(message_box 0.3)
  [ -z "$box" ] || { bad "$1: a message box says: $(box_text)"; xdotool key Return; }
}

# 1. Record 3 s of the ramp, then Stop: every frame in order.
click $record
sleep 3
click $stop
for _ in $(seq 50); do soxi "$work/app/Temp.wav" >/dev/null 2>&1 && break; sleep 0.1; done
no_box "recording"
if soxi "$work/app/Temp.wav" >/dev/null 2>&1; then
  read -r got first breaks < <("$ramp" check "$work/app/Temp.wav")
  say "recorded: $got frames of the ramp from frame $first on, $breaks breaks"
  [ "$breaks" = 0 ] || bad "the recording lost or repeated frames"
  [ "$got" -ge $((rate * 25 / 10)) ] || bad "only $got frames recorded in 3 s"
else
  bad "no valid Temp.wav after Record and Stop"
fi

# Play a 2 s ramp to its end: the monitor hears all of it, in order. The
# first Play after Open starts the file twice (it plays, then rewinds to the
# start and plays again), so only the second Play's is taken whole.
choose_file "$work/ramp2.wav" || { echo "FAIL: the file was not chosen"; exit 1; }
click $play
sleep 2.3
from=$(frames speaker)
click $play
sleep 2.3
no_box "playback"
heard=$(heard speaker "$from")
say "played: $(tr '\n' ';' <<<"$heard") (frame value length, silence left out)"
[ "$heard" = "$(awk '{print $1, 1, 88200}' <<<"$heard")" ] ||
  bad "the monitor did not hear the 88200 frames of the ramp, in order, at once"

# 2. Play an 8 s ramp; after 1.5 s a click on the scroll bar seeks to about
# three quarters in, 1 s later Stop. The monitor's frame count at each click
# tells when it was made in the monitor's recording.
choose_file "$work/ramp8.wav" || { echo "FAIL: the file was not chosen"; exit 1; }
from=$(frames speaker)
click $play
sleep 1.5
at_seek=$(frames speaker)
seek_click 0.75
sleep 1
at_stop=$(frames speaker)
click $stop
sleep 0.6
no_box "seek and Stop"
mapfile -t heard < <(heard speaker "$from")
say "heard: $(printf '%s; ' "${heard[@]}")clicks at frames $at_seek and $at_stop"
# The run that was playing at the click goes on to the seek, then the new
# place follows (a click sends the seek twice, at press and at release: the
# new place may start over once, a few milliseconds in). The monitor hears
# what the sink renders, a little ahead of the sink's clock, so it can hear
# the new place from the very frame it had reached at the click.
before=$(run_where "start <= $at_seek && start + len >= $at_seek")
# From Play to Stop the sound never stops: each run follows the last at once
# (the first Play after Open starts the file over once, the seek moves it).
for ((i = 1; i < ${#heard[@]}; i++)); do
  read -r start length <<<"$(awk '{print $1, $3}' <<<"${heard[$((i - 1))]}")"
  gap=$(ms $((start + length)) "$(awk '{print $1}' <<<"${heard[$i]}")")
  [ "$gap" -le 20 ] || bad "playback went silent for $gap ms (${heard[$((i - 1))]} / ${heard[$i]})"
done
if [ $before -ge 0 ] && [ $((before + 1)) -lt ${#heard[@]} ]; then
  read -r start1 value1 length1 <<<"${heard[$before]}"
  read -r _ value2 _ <<<"${heard[$((before + 1))]}"
  read -r startn _ lengthn <<<"${heard[-1]}"
  late=$(ms "$at_seek" $((start1 + length1)))
  say "the old place was heard for $late ms after the click on the scroll bar"
  [ "$late" -le 150 ] || bad "the old place played on for $late ms after the seek"
  [ "$value2" -gt $((44100 * 45 / 10)) ] || bad "the seek went to frame $value2, not about three quarters in"
  late=$(ms "$at_stop" $((startn + lengthn)))
  say "sound went on for $late ms after Stop"
  [ "$late" -le 150 ] || bad "sound played on for $late ms after Stop"
else
  bad "the monitor heard no seek"
fi

# Pause from the media player's own bar (its second button), then its Play
# (the first): the sound stops within about 100 ms of the click and goes on
# from where it stopped, nothing skipped.
bar_click() { xdotool mousemove $((212 + 232 + $1 * 316 / 9 + 17)) $((146 + 400 + 15)) click 1; }
from=$(frames speaker)
click $play
sleep 1
at_pause=$(frames speaker)
bar_click 1
sleep 0.8
at_resume=$(frames speaker)
bar_click 0
sleep 0.8
click $stop
sleep 0.3
no_box "pause"
mapfile -t heard < <(heard speaker "$from")
say "heard: $(printf '%s; ' "${heard[@]}")Pause at frame $at_pause, Play at $at_resume"
paused=$(run_where "start + len >= $at_pause && start + len < $at_resume")
if [ $paused -ge 0 ] && [ $((paused + 1)) -lt ${#heard[@]} ]; then
  read -r start1 value1 length1 <<<"${heard[$paused]}"
  read -r start2 value2 _ <<<"${heard[$((paused + 1))]}"
  late=$(ms "$at_pause" $((start1 + length1)))
  say "sound went on for $late ms after Pause; Play was heard $(ms "$at_resume" "$start2") ms after its click"
  [ "$late" -le 150 ] || bad "sound played on for $late ms after Pause"
  [ "$(ms "$at_resume" "$start2")" -le 150 ] || bad "Play after Pause was heard late"
  # Play goes on from what the server says was heard; the monitor hears the
  # sink's render a few milliseconds ahead of that, so those may come twice.
  [ "$value2" -le $((value1 + length1)) ] && [ "$value2" -ge $((value1 + length1 - 441)) ] ||
    bad "after Pause, Play went on from frame $value2, not from about $((value1 + length1))"
else
  bad "the monitor heard no pause"
fi

# 3. Play the 8 s ramp again; 1 s in, move its stream to the other sink:
# the other sink hears the ramp go on from where it was.
from=$(frames speaker) from_other=$(frames other)
click $play
sleep 1
input=$(stream_of sink-inputs)
pactl move-sink-input "$input" other || bad "pactl could not move the playback"
sleep 1.5
click $stop
sleep 0.3
no_box "moving the playback"
before=$(heard speaker "$from" | tail -1)
after=$(heard other "$from_other" | head -1)
say "before the move: $before; after it: $after"
read -r _ value1 length1 <<<"$before"
read -r _ value2 length2 <<<"$after"
[ "${length2:-0}" -ge 44100 ] || bad "the other sink heard less than a second of the ramp after the move"
[ "${value2:-0}" -ge "${value1:-0}" ] && [ "${value2:-0}" -le $((${value1:-0} + ${length1:-0} + 44100)) ] ||
  bad "playback did not go on from where it was on the other sink"

# Record from the ramp; 1 s in, move the recording to a second pipe
# source: the take keeps growing, and what follows the move is that source's
# ramp, unbroken.
pactl load-module module-pipe-source source_name=mic2 "file=$work/mic2.fifo" format=s32le rate=$rate channels=2 >/dev/null ||
  bad "the daemon does not take a second source"
"$ramp" feed $rate 2 >"$work/mic2.fifo" &
feed_pid="$feed_pid $!"
rm -f "$work/app/Temp.wav"
click $record
sleep 1
output=$(stream_of source-outputs)
pactl move-source-output "$output" mic2 || bad "pactl could not move the recording"
sleep 0.5
size1=$(stat -c %s "$work"/app/.Temp.wav.?????? 2>/dev/null | head -1)
sleep 1.5
size2=$(stat -c %s "$work"/app/.Temp.wav.?????? 2>/dev/null | head -1)
click $stop
for _ in $(seq 50); do soxi "$work/app/Temp.wav" >/dev/null 2>&1 && break; sleep 0.1; done
no_box "moving the recording"
grew=$(((${size2:-0} - ${size1:-0}) / (rate * 8 / 1000)))
say "the take grew by $grew ms of sound in the 1.5 s after the move"
[ "$grew" -ge 1000 ] || bad "the recording did not keep growing after the move"
# PipeWire's graph runs at the sinks' rate by now, driven by them, and
# resamples the pipe sources to it: there only the growth is checked.
if [ -z "${PIPEWIRE:-}" ]; then
  last=$("$ramp" runs "$work/app/Temp.wav" | awk '$2 != 0' | tail -1)
  say "the take ends with: $last"
  [ "$(awk '{print $3}' <<<"$last")" -ge $rate ] || bad "the take ends with less than a second of unbroken ramp"
fi

kill -0 "$pid" 2>/dev/null || bad "the program is gone"
exit $fail
