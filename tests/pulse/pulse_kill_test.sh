#!/usr/bin/env bash
# The sound server dies under the real program (Xvfb, its own way to the
# server: libpulse), and stays dead, or comes back.
#   While playing: within 1.5 s a message box says the output device stopped
#   working, and the window goes on answering.
#   While recording (a second server, its pipe source fed with a counting
#   ramp): within 1.5 s the box says "The sound input device stopped working;
#   the recording stopped."; after it and Stop, Temp.wav holds the ramp up to
#   the kill, unbroken, as long as the time recorded (within half a second).
#   While recording, back 1 s later (as PipeWire's server after a restart):
#   the recording goes on into the same take, which holds the ramp, silence
#   as long as the server was away, and the ramp again; Stop says so once.
# PIPEWIRE=1 runs it through a private PipeWire, where the server that dies
# and comes back is pipewire-pulse (pipewire and WirePlumber go on), recording
# at 48 kHz as pulse_ramp_test.sh does.
# Exit code 77: the daemon cannot start here. KEEP=1 keeps the temporary folder.
# Usage: pulse_kill_test.sh RECORDER RAMP_TOOL BOX_LOG_LIBRARY
set -u
recorder=$(realpath "$1") ramp=$(realpath "$2")
# shellcheck disable=SC2034 # read by window.sh
box_log=$(realpath "$3")
. "$(dirname "$0")/private_pulse.sh"
begin_pulse_test recorder-kill
now() { echo "${EPOCHREALTIME//[.,]/}"; } # microseconds
ms_since() { echo $((($(now) - $1) / 1000)); }

mkdir -p "$work/app"
export BOX_LOG="$work/boxes"
. "$(dirname "$0")/window.sh"
rate=44100
[ -z "${PIPEWIRE:-}" ] || rate=48000
mic="module-pipe-source source_name=mic file=$work/mic.fifo format=s32le rate=$rate channels=2"
# server: a daemon with a null sink "speaker" and a pipe source "mic"; under
# PipeWire the sink is PipeWire's own and only pipewire-pulse starts again.
server() {
  rm -f "$work/mic.fifo" # the pipe source makes it anew
  if [ -n "$pw_pid" ]; then
    start_pipewire_pulse "$work" </dev/null
  elif [ -n "${PIPEWIRE:-}" ]; then
    start_private_pipewire "$work" speaker
  else
    start_private_pulse "$work" </dev/null
  fi || return 1
  { [ -n "$pw_pid" ] || pactl load-module module-null-sink sink_name=speaker >/dev/null; } &&
    pactl load-module $mic >/dev/null && pactl set-default-sink speaker && pactl set-default-source mic ||
    { echo "FAIL: the daemon does not take the sink and source"; exit 1; }
}
# kill_server: the daemon dies at once, as after a crash.
kill_server() {
  kill -KILL $pa_pid
  wait $pa_pid 2>/dev/null
  pa_pid=''
}
# lost WHAT EXPECTED: a message box shows within 1.5 s and its text begins
# with EXPECTED (what follows may say what a server that comes back does);
# it is dismissed with Return.
lost() {
  local since box text waited
  since=$(now)
  box=$(message_box 5)
  waited=$(ms_since "$since")
  [ -n "$box" ] || { bad "no message box within 5 s of the server's death while $1"; return; }
  text=$(box_text)
  say "killed while $1: after $waited ms a message box says: $text"
  [ "$waited" -le 1500 ] || bad "the message came $waited ms after the server's death while $1"
  [[ "$text" == "$2"* ]] || bad "the message while $1 does not begin \"$2\""
  xdotool windowfocus --sync "$box" key Return
  for _ in $(seq 20); do [ -z "$(message_box 0.1)" ] && break; done
}

server || skip "no private sound server"
start_x_server || { echo "FAIL: no X server"; exit 1; }
sox -n -r $rate -c 2 -b 32 -e signed "$work/app/test1.wav" trim 0 0
"$ramp" make 44100 2 8 "$work/ramp8.wav"
start_recorder "$recorder" "$work/app" || { echo "FAIL: no window"; exit 1; }

# Killed while playing.
choose_file "$work/ramp8.wav" || { echo "FAIL: the file was not chosen"; exit 1; }
click $play
sleep 1.5
kill_server
lost "playing" "The sound output device stopped working; playback stopped."
# The window answers: Open shows its dialog.
click $open
dialog=$(timeout 3 xdotool search --sync --onlyvisible --name '^Open$' 2>/dev/null | head -1)
if [ -n "$dialog" ]; then
  xdotool windowfocus --sync "$dialog" key Escape
  say "the window answers after the server's death: Open shows its dialog"
else
  bad "the window does not answer after the server's death while playing"
fi
sleep 0.5

# Killed while recording, from a second server; the ramp is fed from just
# before Record, at a microphone's pace.
server || { echo "FAIL: the second daemon does not start"; exit 1; }
"$ramp" feed $rate 2 >"$work/mic.fifo" &
feed_pid=$!
click $record
started=$(now)
sleep 3
kill_server
recorded=$(ms_since "$started")
lost "recording" "The sound input device stopped working; the recording stopped."
click $stop
for _ in $(seq 50); do soxi "$work/app/Temp.wav" >/dev/null 2>&1 && break; sleep 0.1; done
if soxi "$work/app/Temp.wav" >/dev/null 2>&1; then
  read -r got first breaks < <("$ramp" check "$work/app/Temp.wav")
  length=$((got * 1000 / rate))
  say "Temp.wav: $length ms of the ramp from frame $first on, $breaks breaks; $recorded ms from Record to the kill"
  [ "$breaks" = 0 ] || bad "the recording lost or repeated frames"
  [ $((length - recorded)) -le 500 ] && [ $((recorded - length)) -le 500 ] ||
    bad "Temp.wav holds $length ms, not the $recorded ms recorded"
  [ -n "$(message_box 0.5)" ] && { bad "a message box after Stop: $(box_text)"; xdotool key Return; }
else
  bad "no valid Temp.wav after the server's death and Stop"
fi

# Killed while recording, and back a second later with its modules loaded
# before it answers (WirePlumber keeps PipeWire's default sink and source).
restart() {
  rm -f "$work/mic.fifo"
  if [ -n "${PIPEWIRE:-}" ]; then
    start_pipewire_pulse "$work" <<<"load-module $mic"
  else
    start_private_pulse "$work" < <(printf '%s\n' "load-module module-null-sink sink_name=speaker" \
      "load-module $mic" "set-default-sink speaker" "set-default-source mic")
  fi
}
kill $feed_pid 2>/dev/null; wait $feed_pid 2>/dev/null
restart || { echo "FAIL: the third daemon does not start"; exit 1; }
"$ramp" feed $rate 2 >"$work/mic.fifo" &
feed_pid=$!
click $record
sleep 2
kill_server
killed=$(now)
kill $feed_pid 2>/dev/null; wait $feed_pid 2>/dev/null
lost "recording, for a while" "The sound input device stopped working; the recording stopped."
sleep 0.5
restart || { echo "FAIL: the daemon does not start again"; exit 1; }
"$ramp" feed $rate 2 >"$work/mic.fifo" &
feed_pid=$!
away=$(ms_since "$killed")
sleep 3
click $stop
box=$(message_box 5)
if [ -n "$box" ]; then
  text=$(box_text)
  say "after Stop: $text"
  [[ "$text" == "The sound server went away while recording"* ]] || bad "the message after Stop is not about the server"
  xdotool windowfocus --sync "$box" key Return
else
  bad "no message after Stop about the time the server was away"
fi
for _ in $(seq 50); do [ -z "$(ls -A "$work/app" | grep '^\.Temp')" ] && break; sleep 0.1; done
"$ramp" runs "$work/app/Temp.wav" >"$work/runs"
say "Temp.wav as runs (frame value length): $(tr '\n' ';' <"$work/runs")"
# ramp from 1, silence, ramp from 1 again; the silence within a second of the time away
awk -v away="$away" -v rate=$rate '
  { frame[NR] = $1; value[NR] = $2; length_[NR] = $3 }
  END {
    if (NR != 3 || value[1] != 1 || value[2] != 0 || value[3] != 1) exit 1
    gap = length_[2] * 1000 / rate
    if (gap < away - 1000 || gap > away + 1000 || length_[3] < rate * 2) exit 1
  }' "$work/runs" || bad "Temp.wav is not the ramp, silence for the $away ms the server was away, and the ramp"

kill -0 "$pid" 2>/dev/null || bad "the program is gone"
exit $fail
