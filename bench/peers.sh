#!/usr/bin/env bash
# The recorder against the programs a user would otherwise play and record
# with, all through one private PulseAudio daemon: a null sink "speaker", and
# as the microphone "mic" the monitor of a second null sink that plays a tone.
# Like a sound card's source, that one hands over sound at the latency its
# clients ask for. (The daemon's own sine source would not do: its latency is
# fixed at 2 s, so every recorder would get its sound in 2 s blocks.)
#   playing a 15 s 44.1 kHz stereo 16-bit WAV: the recorder (its real window
#     under a private Xvfb: Open, then Play), paplay, sox, aplay -D pulse, mpv;
#   recording the same format: the recorder (Record, then Stop), parecord,
#     arecord -D pulse, sox.
# Each is measured over the same span while it plays or records, from 1 s
# after it started (after Play or Record for the recorder): its CPU time (user
# + system, all threads) per second, the daemon's and, for the recorder, the
# X server's over the same span, and its wake-ups (voluntary context switches
# of all its threads) per second. The programs take turns, RUNS rounds, medians printed.
# After Stop the recorder's window is left idle and its wake-ups counted.
# Never fails on the figures; a peer that is not installed is skipped.
# Usage: peers.sh RECORDER CPU_SPAN [RUNS]   (SPAN=seconds measured, default 5)
set -u
recorder=$(realpath "$1") sampler=$(realpath "$2") runs=${3:-3}
span=${SPAN:-5} settle=1 rec_settle=3 idle=3

# Packages only this benchmark needs; installed when missing if we can.
packages=(pulseaudio pulseaudio-utils sox libsox-fmt-pulse alsa-utils libasound2-plugins
  xvfb xdotool mpv libx11-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo -n"
  echo "peers.sh: installing ${missing[*]}" >&2
  for _ in $(seq 30); do # another apt-get may hold the lock
    $sudo apt-get update -q >/dev/null 2>&1 &&
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" \
        >/dev/null 2>&1 && break
    sleep 10
  done
fi

# No spaces here: the server address below is split at whitespace.
work=$(mktemp -d "${TMPDIR:-/tmp}/recorder-peers.XXXXXX")
pa_pid='' xvfb_pid='' pid=''
cleanup() {
  for p in $pid $pa_pid $xvfb_pid; do kill "$p" 2>/dev/null; done
  for p in $pid $pa_pid $xvfb_pid; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
skip() { echo "peer benchmark skipped: $*"; exit 0; }

# The daemon: runtime folder, home and client settings all in $work, so no
# other sound server is seen or started. Devices nobody uses are suspended
# after a second, as on a desktop, so the daemon's figure is what the stream
# under test costs it.
mkdir -p "$work/app"
unset QT_QPA_PLATFORM
. "$(dirname "$0")/../tests/pulse/private_pulse.sh"
start_private_pulse "$work" <<EOF || skip "no private PulseAudio daemon"
load-module module-null-sink sink_name=speaker rate=44100 channels=2
load-module module-null-sink sink_name=room rate=44100 channels=2
load-module module-sine sink=room frequency=440
load-module module-remap-source master=room.monitor source_name=mic
set-default-sink speaker
set-default-source mic
load-module module-suspend-on-idle timeout=1
EOF

exec 3< <(Xvfb -displayfd 1 -noreset -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 10 display <&3 || skip "Xvfb does not start here"
export DISPLAY=":$display" SDL_AUDIODRIVER=pulseaudio

wav="$work/play.wav"
sox -n -r 44100 -c 2 -b 16 -e signed "$wav" synth 15 sine 440 sine 660 vol 0.5
cp "$(dirname "$0")/../scripts/test1.wav" "$work/app/"

# The peers, "name|how it plays|how it records"; an empty field: none.
peers=(
  "paplay/parecord|paplay $wav|parecord --rate=44100 --channels=2 --format=s16le --file-format=wav $work/out.wav"
  "sox|sox -q $wav -t pulseaudio default|sox -q -t pulseaudio -r 44100 -c 2 -b 16 -e signed default $work/out.wav"
  "aplay/arecord|aplay -q -D pulse $wav|arecord -q -D pulse -f cd -t wav $work/out.wav"
  "mpv|mpv --no-config --no-video --ao=pulse --really-quiet --no-terminal $wav|"
)
notes=()
for i in "${!peers[@]}"; do
  IFS='|' read -r name play rec <<<"${peers[$i]}"
  for cmd in "${play%% *}" "${rec%% *}"; do
    [ -z "$cmd" ] || command -v "$cmd" >/dev/null || { notes+=("$name: $cmd is not installed, skipped"); peers[i]="$name||"; }
  done
done
[ -n "$(find /usr/lib -name libasound_module_pcm_pulse.so 2>/dev/null | head -1)" ] ||
  notes+=("aplay/arecord: the ALSA pulse plugin (libasound2-plugins) is missing; their runs fail")

# measure KEY PID SECONDS [STREAMS]: one span of PID, the daemon and the X
# server; appends "KEY own_ms/s daemon_ms/s x_ms/s wakeups/s" to the results.
# STREAMS (sink-inputs or source-outputs) must show a stream at the end of the
# span, or the run is dropped: a program that failed to play costs nothing.
measure() {
  local line
  line=$("$sampler" "$3" "$2" $pa_pid $xvfb_pid | awk -v key="$1" '{
      for (i = 2; i <= 7; ++i) if ($i == "-") exit
      s = $1 / 1e9
      printf "%s %.3f %.3f %.3f %.2f\n", key, $2 / 1e6 / s, $4 / 1e6 / s, $6 / 1e6 / s, $3 / s
    }')
  if [ -z "$line" ]; then
    echo "peers.sh: $1 ended before its span did; run dropped" >&2
  elif [ -n "${4:-}" ] && [ -z "$(pactl list short "$4" 2>/dev/null)" ]; then
    echo "peers.sh: $1 had no stream in the sound server; run dropped" >&2
  else
    echo "$line" >>"$work/results"
  fi
}
stop() { # ends $pid
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=''
}

# The recorder's window, driven as a user would: buttons by their client
# position, the window at 212,146 with no frame (no window manager).
click() { xdotool mousemove $((212 + $1)) $((146 + 472 + 20)) click 1; }
button_record=$((208 + 44)) button_stop=$((424 + 44)) button_play=$((528 + 44)) button_open=$((96 + 44))
start_recorder() {
  rm -f "$work/app/Temp.wav"
  (cd "$work/app" && exec "$recorder") &
  pid=$!
  timeout 10 xdotool search --sync --onlyvisible --name '^Form1$' >/dev/null 2>&1 ||
    { echo "peers.sh: the recorder showed no window" >&2; return 1; }
  sleep 0.3
}
recorder_plays() {
  start_recorder || { stop; return; }
  click $button_open
  local dialog
  dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Open$' 2>/dev/null | head -1)
  [ -n "$dialog" ] || { echo "peers.sh: no Open dialog" >&2; stop; return; }
  xdotool windowfocus --sync "$dialog" type --delay 5 "$wav"
  xdotool key --delay 50 Return
  for _ in $(seq 50); do xdotool search --onlyvisible --name '^Open$' >/dev/null 2>&1 || break; sleep 0.1; done
  click $button_play
  sleep $settle
  measure play.recorder $pid "$span" sink-inputs
  click $button_stop
  sleep 1
  measure idle.play $pid $idle
  stop
}
recorder_records() {
  start_recorder || { stop; return; }
  click $button_record
  sleep $rec_settle
  measure rec.recorder $pid "$span" source-outputs
  click $button_stop
  sleep 1
  measure idle.rec $pid $idle
  stop
}
peer() { # KEY COMMAND STREAMS SETTLE
  [ -n "$2" ] || return 0
  (cd "$work" && unset DISPLAY && exec $2 >/dev/null 2>&1 </dev/null) &
  pid=$!
  sleep "$4"
  measure "$1" $pid "$span" "$3"
  stop
  rm -f "$work/out.wav"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
start=$(date +%s)
sleep 1
measure idle.server $pa_pid 3
for round in $(seq "$runs"); do
  echo "peers.sh: round $round of $runs" >&2
  recorder_plays
  for i in "${!peers[@]}"; do
    IFS='|' read -r _ play _ <<<"${peers[$i]}"
    peer "play.$i" "$play" sink-inputs $settle
  done
  recorder_records
  for i in "${!peers[@]}"; do
    IFS='|' read -r _ _ rec <<<"${peers[$i]}"
    peer "rec.$i" "$rec" source-outputs $rec_settle
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The table: medians per key and figure.
names=""
for p in "${peers[@]}"; do names+="${p%%|*}|"; done
awk -v names="$names" -v runs="$runs" -v span="$span" -v settle="$settle" -v rec_settle="$rec_settle" -v idle="$idle" \
  -v before="$load_before" -v after="$load_after" -v took=$(($(date +%s) - start)) '
function median(key, f,   n, i, j, t, v) {
  n = count[key]
  if (!n) return ""
  for (i = 1; i <= n; ++i) v[i] = val[key, i, f]
  for (i = 2; i <= n; ++i) for (j = i; j > 1 && v[j - 1] > v[j]; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
  return v[int((n + 1) / 2)]
}
function own(key) { return median(key, 1) }
function total(key, withx) { return count[key] ? median(key, 5 + withx) : "" }
function wake(key) { return median(key, 4) }
function cell(x, fmt) { return x == "" ? "-" : sprintf(fmt, x) }
function ratio(a, b) { return a == "" || b == "" || b == 0 ? "" : a / b }
function line(what, measured, r, target, met) {
  printf "%-52s %-22s %7s  %-12s %s\n", what, measured, r == "" ? "-" : sprintf("%.2f", r), target, met
}
function met(x, limit) { return x == "" ? "" : (x <= limit ? "yes" : "no") }
{
  n = ++count[$1]
  for (f = 1; f <= 4; ++f) val[$1, n, f] = $(f + 1)
  val[$1, n, 5] = $2 + $3          # with the daemon
  val[$1, n, 6] = $2 + $3 + $4     # with the daemon and the X server
}
END {
  np = split(names, name, "|") - 1
  printf "Peers through a private PulseAudio daemon (null sink; the monitor of a null sink playing a tone as the\n"
  printf "microphone), 44.1 kHz stereo 16-bit. CPU is user+system time of all threads, ms per second of audio,\n"
  printf "over %d s from %d s after the start of playing and %d s after the start of recording (the monitor takes\n", span, settle, rec_settle
  printf "up to 2 s to hand over its first sound at a new latency); for the recorder, after Play or Record.\n"
  printf "Medians of %d alternating runs. \"own\" is the process alone, \"+server\" adds the PulseAudio daemon,\n", runs
  printf "\"+server+X\" the daemon and Xvfb over the same span.\n"
  printf "The daemon idle: %.2f ms/s. Load average before %s, after %s; the run took %d s.\n\n", own("idle.server"), before, after, took
  printf "%-26s  %-18s", "", "recorder"
  for (i = 1; i <= np; ++i) printf "  %-18s", name[i]
  printf "\n%-26s  %8s %9s", "", "own", "+server+X"
  for (i = 1; i <= np; ++i) printf "  %8s %9s", "own", "+server"
  printf "\n"
  split("play rec", kind, " ")
  split("playing 15 s WAV, ms/s|recording, ms/s", label, "|")
  for (k = 1; k <= 2; ++k) {
    printf "%-26s  %8s %9s", label[k], cell(own(kind[k] ".recorder"), "%.2f"), cell(total(kind[k] ".recorder", 1), "%.2f")
    for (i = 1; i <= np; ++i) printf "  %8s %9s", cell(own(kind[k] "." (i - 1)), "%.2f"), cell(total(kind[k] "." (i - 1), 0), "%.2f")
    printf "\n"
  }
  split("wake-ups/s, playing|wake-ups/s, recording", label, "|")
  for (k = 1; k <= 2; ++k) {
    printf "%-26s  %8s %9s", label[k], cell(wake(kind[k] ".recorder"), "%.1f"), ""
    for (i = 1; i <= np; ++i) printf "  %8s %9s", cell(wake(kind[k] "." (i - 1)), "%.1f"), ""
    printf "\n"
  }
  printf "\n"
  printf "%-52s %-22s %7s  %-12s %s\n", "", "measured", "ratio", "target", "met"
  rp = own("play.recorder"); rpt = total("play.recorder", 1)
  rr = own("rec.recorder"); rrt = total("rec.recorder", 1)
  for (i = 1; i <= np; ++i) {
    if (name[i] == "mpv") mpv = total("play." (i - 1), 0)
    if (name[i] ~ /^aplay/) { aplay = total("play." (i - 1), 0); arecord = total("rec." (i - 1), 0) }
  }
  line("playing: recorder process", cell(rp, "%.2f ms/s"), "", "<= 4 ms/s", met(rp, 4))
  line("playing: recorder+server+X / mpv+server", cell(rpt, "%.2f") " / " cell(mpv, "%.2f"), ratio(rpt, mpv), "<= 0.5", met(ratio(rpt, mpv), 0.5))
  line("playing: recorder+server+X / aplay+server", cell(rpt, "%.2f") " / " cell(aplay, "%.2f"), ratio(rpt, aplay), "<= 3", met(ratio(rpt, aplay), 3))
  line("recording: recorder process", cell(rr, "%.2f ms/s"), "", "<= 2 ms/s", met(rr, 2))
  line("recording: recorder+server+X / arecord+server", cell(rrt, "%.2f") " / " cell(arecord, "%.2f"), ratio(rrt, arecord), "<= 3", met(ratio(rrt, arecord), 3))
  w = wake("play.recorder"); line("wake-ups, recorder playing", cell(w, "%.1f /s"), "", "<= 60 /s", met(w, 60))
  w = wake("rec.recorder"); line("wake-ups, recorder recording", cell(w, "%.1f /s"), "", "<= 30 /s", met(w, 30))
  w = wake("idle.play"); line("wake-ups, idle window after Stop of playing", cell(w, "%.1f /s"), "", "about 0", "")
  w = wake("idle.rec"); line("wake-ups, idle window after Stop of recording", cell(w, "%.1f /s"), "", "about 0", "")
}' "$work/results" | sed 's/ *$//'
for n in "${notes[@]}"; do echo "note: $n"; done
exit 0
