#!/usr/bin/env bash
# The real program under Xvfb against a sound server with a microphone but no
# speaker (a private PulseAudio daemon with only a null source). Play of an
# opened file must say in a message box that there is no output device, and
# say it again on a second click; Record either records (there is an input)
# or says why not, and Stop then works. Then the server gets a speaker and
# loses its microphone: Record says there is no input device. The program
# must answer throughout and end normally on Exit. Screenshots of the boxes
# go to artefacts/. Exit code 77: the daemon cannot start on this machine.
# Usage: pulse_nosink_window_test.sh RECORDER BOX_LOG_LIBRARY
set -u
recorder=$(realpath "$1")
# shellcheck disable=SC2034 # read by window.sh
box_log=$(realpath "$2")
template="$(cd "$(dirname "$0")/../../scripts" && pwd)/test1.wav"
art="$(pwd)/artefacts"
. "$(dirname "$0")/private_pulse.sh"
begin_pulse_test recorder-nosink
. "$(dirname "$0")/window.sh"
start_private_pulse "$work" </dev/null || skip "no private PulseAudio daemon"
source=$(pactl load-module module-null-source source_name=mic) ||
  { echo "FAIL: the daemon does not take the source"; exit 1; }
start_x_server || { echo "FAIL: no X server"; exit 1; }
unset SDL_AUDIODRIVER # SDL chooses, as for any user
mkdir -p "$work/app" "$art"
export BOX_LOG="$work/boxes"
cp "$template" "$work/app/test1.wav" # the recording template: no sound of its own
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 0.5 sine 440 vol 0.5
start_recorder "$recorder" "$work/app" || { echo "FAIL: no window"; exit 1; }

# answer WHAT SHOT [START]: a message box shows, its text beginning with
# START when given; it is kept as SHOT and dismissed.
answer() {
  local box
  box=$(message_box 10)
  [ -n "$box" ] || { bad "no message box after $1"; return 1; }
  sleep 0.3
  import -window root "$art/$2"
  xdotool windowfocus --sync "$box" key Return
  for _ in $(seq 50); do [ -z "$(message_box 0.1)" ] && break; done
  echo "ok: $1 showed a message box ($2): $(box_text)"
  [ -z "${3:-}" ] || [[ "$(box_text)" == "$3"?* ]] || bad "the message after $1 does not begin \"$3\""
}

choose_file "$work/tone.wav" || bad "the file was not chosen"
click $play
answer "Play" nosink-play.png "No sound output device: "
click $play
answer "a second Play" nosink-play-again.png "No sound output device: "

click $record
sleep 1
if [ -n "$(message_box 0.5)" ]; then
  answer "Record" nosink-record.png
else
  echo "ok: Record records from the source"
fi
click $stop
sleep 1
if [ -n "$(message_box 0.5)" ]; then
  answer "Stop" nosink-stop.png
elif [ -e "$work/app/Temp.wav" ]; then
  soxi "$work/app/Temp.wav" >/dev/null 2>&1 || bad "Temp.wav after Record and Stop is no sound file"
fi

# A speaker now, and no microphone: Record says the input is missing.
pactl load-module module-null-sink sink_name=speaker >/dev/null && pactl unload-module "$source" ||
  bad "the daemon does not swap the source for a sink"
click $record
answer "Record without a source" nosource-record.png "No sound input device: "
click $stop
sleep 0.5
[ -z "$(message_box 0.5)" ] || answer "Stop after Record without a source" nosource-stop.png
cmp -s "$work/app/test1.wav" "$template" || bad "test1.wav changed"

# Still there and answering: Exit ends it normally.
kill -0 "$pid" 2>/dev/null || { bad "the program is gone"; exit 1; }
click $quit
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  bad "the program does not end on Exit"
else
  wait "$pid"; status=$?
  pid=''
  [ $status = 0 ] || bad "the program ended with status $status"
fi
exit $fail
