#!/usr/bin/env bash
# Recordings outlive a crash: the real program under Xvfb records from the
# disk driver's microphone at real-time pace and is killed with SIGKILL; the
# next start in that folder recovers the recording under a visible name and
# says so in one message box. A second instance started while the first
# records leaves the first one's live recording alone. Screenshots are kept
# in artefacts/.
set -u
recorder=$1
here=$(pwd)
art="$here/artefacts"
mkdir -p "$art"
work=$(mktemp -d "${TMPDIR:-/tmp}/recorder recovery.XXXXXX") # a name with a space
pids=()
cleanup() {
  for p in "${pids[@]}" $xvfb_pid; do kill -9 "$p" 2>/dev/null; done
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
xvfb_pid=
trap cleanup EXIT
fail=0
say() { echo "$@"; }
bad() { echo "FAIL: $*"; fail=1; }

exec 3< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 10 display <&3 || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$display"

cp "$(dirname "$0")/../../scripts/test1.wav" "$work/test1.wav"
sox -n -r 44100 -c 2 -b 16 -e signed "$work/Temp.wav" synth 1 sine 300 vol 0.5 # an earlier recording
cp "$work/Temp.wav" "$work/earlier.wav"
# 20 s of noise as the microphone, read at real-time pace.
sox -n -r 44100 -c 2 -b 16 -e signed -t raw "$work/mic.raw" synth 20 whitenoise vol 0.5
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILEIN="$work/mic.raw" SDL_DISKAUDIOFILE=/dev/null
unset SDL_DISKAUDIODELAY QT_QPA_PLATFORM

start() { # starts an instance in the working folder; sets pid and wid
  (cd "$work" && exec "$recorder") &
  pid=$!
  pids+=("$pid")
  wid=
  for _ in $(seq 100); do
    wid=$(xdotool search --onlyvisible --pid "$pid" --name '^Form1$' 2>/dev/null | head -1)
    [ -n "$wid" ] && break
    sleep 0.1
  done
  [ -n "$wid" ] || bad "the window of instance $pid did not show"
  sleep 0.5
}
button() { # clicks a button of the topmost window at client x: record, stop, exit
  local x
  case $1 in record) x=$((208 + 44)) ;; stop) x=$((424 + 44)) ;; exit) x=$((640 + 48)) ;; esac
  xdotool mousemove $((212 + x)) $((146 + 472 + 20)) click 1
}
boxes() { xdotool search --onlyvisible --name '^Recorder$' 2>/dev/null | wc -l; }
hidden() { find "$work" -maxdepth 1 -name '.Temp.wav.??????' -printf '%f %i\n'; }
recovered() { find "$work" -maxdepth 1 -name 'Temp (recovered *).wav'; }
# same_as_mic FILE: the file's samples are the microphone's from its start.
same_as_mic() {
  sox "$1" -t raw "$work/samples.raw" &&
    [ -s "$work/samples.raw" ] && cmp -s -n "$(stat -c %s "$work/samples.raw")" "$work/samples.raw" "$work/mic.raw"
}

# 1. Record for 3 s, then the program is killed.
start
button record
sleep 3
kill -9 "$pid"; wait "$pid" 2>/dev/null
left=$(hidden)
[ -n "$left" ] && say "ok the recording is left in ${left% *}" || bad "no hidden recording after the crash"

# 2. The next start recovers it and says so once.
start
for _ in $(seq 50); do [ "$(boxes)" -ge 1 ] && break; sleep 0.1; done
sleep 1 # a second box would be up by now
import -window root "$art/recovered.png"
n=$(boxes)
[ "$n" = 1 ] && say "ok one message box" || bad "$n message boxes after the restart"
file=$(recovered)
if [ "$(echo "$file" | grep -c .)" = 1 ] && soxi "$file" >/dev/null 2>&1; then
  seconds=$(soxi -D "$file")
  say "ok recovered $(basename "$file"): $seconds s"
  awk -v s="$seconds" 'BEGIN{exit !(s >= 2 && s <= 3.6)}' || bad "recovered $seconds s of about 3 s recorded"
  same_as_mic "$file" && say "ok its samples are the microphone's" || bad "the recovered samples are not the microphone's"
else
  bad "no single valid recovered file: $(ls -A "$work" | tr '\n' ' ')"
fi
[ -z "$(hidden)" ] || bad "a hidden file is left: $(hidden)"
cmp -s "$work/Temp.wav" "$work/earlier.wav" && say "ok the earlier Temp.wav is untouched" || bad "Temp.wav changed"
for w in $(xdotool search --onlyvisible --name '^Recorder$' 2>/dev/null); do xdotool windowfocus --sync "$w" key Return; done
for _ in $(seq 20); do [ "$(boxes)" = 0 ] && break; sleep 0.1; done
[ "$(boxes)" = 0 ] || bad "the message box does not close with Return"
button exit
sleep 1
kill -0 "$pid" 2>/dev/null && bad "Exit did not end the program"
rm -f "$file"

# 3. A second instance leaves the first one's live recording alone.
start
a=$pid
button record
sleep 1
live=$(hidden)
start
b=$pid
sleep 1.5
import -window root "$art/second-instance.png"
[ "$(boxes)" = 0 ] && say "ok the second instance shows no message" || bad "the second instance shows a message"
[ "$(hidden)" = "$live" ] && [ -n "$live" ] && say "ok the live recording is untouched" ||
  bad "the live recording changed: '$live' became '$(hidden)'"
[ -z "$(recovered)" ] || bad "a live recording was recovered: $(recovered)"
button exit # B, on top
sleep 1
kill -0 "$b" 2>/dev/null && bad "Exit did not end the second instance"
button stop # A
sleep 1
if soxi "$work/Temp.wav" >/dev/null 2>&1; then
  seconds=$(soxi -D "$work/Temp.wav")
  say "ok A saved Temp.wav: $seconds s"
  awk -v s="$seconds" 'BEGIN{exit !(s >= 3)}' || bad "A's recording is $seconds s, not 3 s or more"
  same_as_mic "$work/Temp.wav" || bad "A's samples are not the microphone's"
else
  bad "A saved no valid Temp.wav"
fi
[ -z "$(hidden)" ] || bad "a hidden file is left after A's Stop: $(hidden)"
kill -0 "$a" 2>/dev/null || bad "A is gone"
exit $fail
