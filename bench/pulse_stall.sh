#!/usr/bin/env bash
# A disk that stalls while recording through a real sound server: a private
# PulseAudio daemon whose microphone is a pipe source fed with a counting
# ramp at real-time pace, the real program under Xvfb, and the stall_fsync
# shim preloaded so that the first two flushes of the recording each stall
# for 5 s. The template is 192 kHz stereo 32-bit, so the recording passes
# the 4 MiB between flushes within 3 s and both stalls fall inside a 15 s
# recording. The saved Temp.wav must hold the ramp with no frame lost or
# repeated. Exit code 77: the daemon cannot start on this machine.
# Run by the bench_pulse_stall target, not by ctest.
# The client here uses no shared memory with the daemon. SDL 2.26's PulseAudio
# capture takes one fragment of the stream per pass of its main loop; with
# shared memory the client library takes in several of the daemon's packets
# per pass, and a pipe source at this rate sends 375 small ones a second. SDL
# then falls behind for good: in most runs the recording stopped after 3-4 s
# or held nothing at all (the window shows Recording, the daemon lists the
# stream as running), at 96 kHz as well. Over the socket alone it keeps up in
# every run. Sources whose latency follows their clients (a sound card's, a
# monitor) send one packet per buffer and are not affected. RATE=96000 or
# RATE=44100 sets the rate (at 44.1 kHz the first flush comes after 24 s).
# Usage: pulse_stall.sh RECORDER STALL_FSYNC_LIBRARY RAMP_TOOL
set -u
recorder=$(realpath "$1") shim=$(realpath "$2") ramp=$(realpath "$3")
rate=${RATE:-192000}
. "$(dirname "$0")/../tests/pulse/private_pulse.sh"
begin_pulse_test recorder-stall

mkdir -p "$work/app"
start_private_pulse "$work" </dev/null || skip "no private PulseAudio daemon"
echo "enable-shm = no" >>"$work/client.conf"
pactl load-module module-null-sink sink_name=speaker >/dev/null &&
  pactl load-module module-pipe-source source_name=mic "file=$work/mic.fifo" format=s32le rate=$rate channels=2 >/dev/null &&
  pactl set-default-sink speaker && pactl set-default-source mic ||
  { echo "FAIL: the daemon does not take the sink and source"; exit 1; }
"$ramp" feed $rate 2 >"$work/mic.fifo" &
feed_pid=$!

exec 3< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 10 display <&3 || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$display" SDL_AUDIODRIVER=pulseaudio
unset QT_QPA_PLATFORM

sox -n -r $rate -c 2 -b 32 -e signed "$work/app/test1.wav" trim 0 0
(cd "$work/app" && LD_PRELOAD="$shim" STALL_MS=5000 STALL_COUNT=2 exec "$recorder") &
pid=$!
timeout 10 xdotool search --sync --onlyvisible --name '^Form1$' >/dev/null 2>&1 ||
  { echo "FAIL: the window did not show"; exit 1; }
sleep 0.5
click() { xdotool mousemove $((212 + $1)) $((146 + 472 + 20)) click 1; } # a button at client x

# Record 15 s, watching the hidden file: while a flush stalls it stops growing.
click $((208 + 44))
sizes=()
for _ in $(seq 30); do
  sleep 0.5
  sizes+=("$(stat -c %s "$work"/app/.Temp.wav.?????? 2>/dev/null | head -1)")
done
click $((424 + 44))
for _ in $(seq 50); do soxi "$work/app/Temp.wav" >/dev/null 2>&1 && break; sleep 0.2; done
# The longest span, in half seconds, over which the file did not grow.
still=$(printf '%s\n' "${sizes[@]}" | awk '$1 == prev {run++; if (run > most) most = run} $1 != prev {run = 0} {prev = $1} END {print most + 0}')
say "the recording's file stood still for up to $((still * 5 / 10)).$((still * 5 % 10)) s"
[ "$still" -ge 8 ] || bad "no flush stalled while recording (sizes: ${sizes[*]})"

if soxi "$work/app/Temp.wav" >/dev/null 2>&1; then
  read -r frames first breaks < <("$ramp" check "$work/app/Temp.wav")
  say "Temp.wav: $frames frames of the ramp from $first on, $breaks breaks"
  [ "$breaks" = 0 ] || bad "frames were lost or repeated"
  [ "$frames" -ge $((rate * 14)) ] || bad "only $frames frames of about $((rate * 15)) recorded"
else
  bad "no valid Temp.wav after Record and Stop"
fi
kill -0 $pid 2>/dev/null || bad "the program is gone"
exit $fail
