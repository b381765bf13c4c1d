#!/usr/bin/env bash
# Recordings outlive a crash: the real program under Xvfb records the disk
# driver's microphone at real-time pace and is killed with SIGKILL; the next
# start recovers the recording under a visible name and says so in one
# message box. A second instance started while the first records leaves the
# first one's live recording alone. On a disk whose every flush takes 10 s
# (the stall_fsync shim given as the second argument), the window answers at
# once after Stop and Temp.wav gets the whole take, or, killed meanwhile, the
# next start recovers it. Exit during a recording keeps the take under a
# dated name and says so. Screenshots are kept in artefacts/.
set -u
recorder=$1
shim=$2
art="$(pwd)/artefacts"
mkdir -p "$art"
work=$(mktemp -d "${TMPDIR:-/tmp}/recorder recovery.XXXXXX") # a name with a space
pids=() xvfb_pid=
trap 'for p in "${pids[@]}" $xvfb_pid; do kill -9 "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
fail=0
say() { echo "$@"; }
bad() { echo "FAIL: $*"; fail=1; }

# -noreset: a program started just after the last one ended would
# otherwise find the server resetting, and no display.
exec 3< <(Xvfb -displayfd 1 -noreset -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 10 display <&3 || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$display"
cp "$(dirname "$0")/../../scripts/test1.wav" "$work/test1.wav"
sox -n -r 44100 -c 2 -b 16 -e signed "$work/Temp.wav" synth 1 sine 300 vol 0.5 # an earlier recording
cp "$work/Temp.wav" "$work/earlier.wav"
sox -n -r 44100 -c 2 -b 16 -e signed -t raw "$work/mic.raw" synth 20 whitenoise vol 0.5
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILEIN="$work/mic.raw" SDL_DISKAUDIOFILE=/dev/null
unset SDL_DISKAUDIODELAY QT_QPA_PLATFORM

start() { # starts an instance in the working folder; sets pid
  (cd "$work" && exec env ${PRELOAD:+LD_PRELOAD="$PRELOAD"} "$recorder") &
  pid=$!
  pids+=("$pid")
  local n=0
  until xdotool search --onlyvisible --pid "$pid" --name '^Form1$' >/dev/null 2>&1; do
    n=$((n + 1)); [ $n -lt 100 ] || { bad "the window of instance $pid did not show"; break; }; sleep 0.1
  done
  sleep 0.5
}
button() { # clicks a button of the topmost window at client x: record, stop, exit
  local x
  case $1 in open) x=$((96 + 44)) ;; record) x=$((208 + 44)) ;; stop) x=$((424 + 44)) ;; exit) x=$((640 + 48)) ;; esac
  xdotool mousemove $((212 + x)) $((146 + 472 + 20)) click 1
}
boxes() { xdotool search --onlyvisible --name '^Recorder$' 2>/dev/null | wc -l; }
hidden() { find "$work" -maxdepth 1 -name '.Temp.wav.??????' -printf '%f %i\n'; }
recovered() { find "$work" -maxdepth 1 -name 'Temp (recovered *).wav'; }
# sound FILE MIN MAX: a valid file of MIN to MAX seconds holding the microphone's samples from its start.
sound() {
  soxi "$1" >/dev/null 2>&1 || { bad "$1 is no valid sound file"; return; }
  local s; s=$(soxi -D "$1")
  awk -v s="$s" -v a="$2" -v b="$3" 'BEGIN{exit !(s >= a && s <= b)}' || bad "$1 holds $s s, not $2 to $3 s"
  sox "$1" -t raw "$work/samples.raw" && [ -s "$work/samples.raw" ] &&
    cmp -s -n "$(stat -c %s "$work/samples.raw")" "$work/samples.raw" "$work/mic.raw" ||
    bad "the samples of $1 are not the microphone's"
  say "ok $(basename "$1"): $s s of the microphone"
}

# 1. Record for 3 s, then the program is killed; the next start recovers the
# recording, says so once, and the box closes with Return.
start
button record
sleep 3
kill -9 "$pid"; wait "$pid" 2>/dev/null
[ -n "$(hidden)" ] || bad "no hidden recording after the crash"
start
for _ in $(seq 50); do [ "$(boxes)" -ge 1 ] && break; sleep 0.1; done
sleep 1 # a second box would be up by now
import -window root "$art/recovered.png"
[ "$(boxes)" = 1 ] || bad "$(boxes) message boxes after the restart"
file=$(recovered)
[ "$(echo "$file" | grep -c .)" = 1 ] && sound "$file" 2 3.6 || bad "no single recovered file: $(ls -A "$work" | tr '\n' ' ')"
[ -z "$(hidden)" ] || bad "a hidden file is left: $(hidden)"
cmp -s "$work/Temp.wav" "$work/earlier.wav" || bad "Temp.wav changed"
for w in $(xdotool search --onlyvisible --name '^Recorder$' 2>/dev/null); do xdotool windowfocus --sync "$w" key Return; done
for _ in $(seq 20); do [ "$(boxes)" = 0 ] && break; sleep 0.1; done
[ "$(boxes)" = 0 ] || bad "the message box does not close with Return"
button exit
sleep 1
kill -0 "$pid" 2>/dev/null && bad "Exit did not end the program"
rm -f "$file"

# 2. A second instance leaves the first one's live recording alone, and the
# first one's Stop then saves all of it.
start
a=$pid
button record
sleep 1
live=$(hidden)
start
b=$pid
sleep 1.5
import -window root "$art/second-instance.png"
[ "$(boxes)" = 0 ] || bad "the second instance shows a message"
[ -n "$live" ] && [ "$(hidden)" = "$live" ] || bad "the live recording changed: '$live' became '$(hidden)'"
[ -z "$(recovered)" ] || bad "a live recording was recovered: $(recovered)"
button exit # B, on top
sleep 1
kill -0 "$b" 2>/dev/null && bad "Exit did not end the second instance"
button stop # A
sleep 1
sound "$work/Temp.wav" 3 30
[ -z "$(hidden)" ] || bad "a hidden file is left after A's Stop: $(hidden)"
kill -0 "$a" 2>/dev/null || bad "A is gone"
button exit
sleep 1

# 3. Every flush takes 10 s. After Stop the window answers an Open click at
# once, and Temp.wav then gets the whole take.
export STALL_MS=10000
PRELOAD=$shim start
button record
sleep 3
button stop
t0=$(date +%s%N)
button open
dialog=$(timeout 3 xdotool search --sync --onlyvisible --name '^Open$' 2>/dev/null | head -1)
ms=$((($(date +%s%N) - t0) / 1000000))
[ -n "$dialog" ] && [ $ms -lt 1000 ] || bad "the Open dialog came after $ms ms (or not at all)"
say "ok: the Open dialog came $ms ms after the click that followed Stop"
[ -z "$dialog" ] || xdotool windowfocus --sync "$dialog" key Escape
for _ in $(seq 300); do [ -z "$(hidden)" ] && break; sleep 0.1; done
sound "$work/Temp.wav" 2.5 4
# Exit closes the window at once; the program ends once its last flush is done.
button exit
sleep 1
xdotool search --onlyvisible --pid "$pid" --name '^Form1$' >/dev/null 2>&1 && bad "Exit left the window up"
for _ in $(seq 400); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && { bad "the program did not end after Exit"; kill -9 "$pid"; }

# 4. The same, killed right after Stop: the next start recovers the take, as
# far as it had reached the file (what waited in memory behind a stalled
# flush is lost with the process).
cp "$work/Temp.wav" "$work/earlier.wav"
PRELOAD=$shim start
button record
sleep 3
button stop
sleep 0.5
kill -9 "$pid"; wait "$pid" 2>/dev/null
start
for _ in $(seq 50); do [ "$(boxes)" -ge 1 ] && break; sleep 0.1; done
file=$(recovered)
[ "$(echo "$file" | grep -c .)" = 1 ] && sound "$file" 1 4 || bad "no single recovered file: $(ls -A "$work" | tr '\n' ' ')"
cmp -s "$work/Temp.wav" "$work/earlier.wav" || bad "Temp.wav changed"
for w in $(xdotool search --onlyvisible --name '^Recorder$' 2>/dev/null); do xdotool windowfocus --sync "$w" key Return; done
button exit
sleep 1
rm -f "$file"

# 5. Exit during a recording closes the window, keeps the take under its
# dated name and says where; the program ends once the box is closed.
unset STALL_MS
start
button record
sleep 2
button exit
for _ in $(seq 50); do [ "$(boxes)" -ge 1 ] && break; sleep 0.1; done
import -window root "$art/exit-while-recording.png" # the box alone, the window gone
[ "$(boxes)" = 1 ] || bad "$(boxes) message boxes after Exit during a recording"
file=$(recovered)
[ "$(echo "$file" | grep -c .)" = 1 ] && sound "$file" 1.5 3 || bad "no single kept take: $(ls -A "$work" | tr '\n' ' ')"
for w in $(xdotool search --onlyvisible --name '^Recorder$' 2>/dev/null); do xdotool windowfocus --sync "$w" key Return; done
for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && bad "the program did not end after the box"
[ -z "$(hidden)" ] || bad "a hidden file is left: $(hidden)"
exit $fail
