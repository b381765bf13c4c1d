#!/usr/bin/env bash
# The recorder against the programs a user would otherwise play and record
# with, all through one private PulseAudio daemon: null sinks as speakers, and
# as microphones the monitors of null sinks that play a tone. Like a sound
# card's source, such a monitor hands over sound at the latency its clients
# ask for. (The daemon's own sine source would not do: its latency is fixed
# at 2 s, so every recorder would get its sound in 2 s blocks.)
#   at 44.1 kHz, playing a 15 s stereo 16-bit WAV: the recorder (its real
#     window under a private Xvfb: Open, then Play) through libpulse as it
#     chooses by itself, the recorder through SDL's pulseaudio driver, paplay,
#     sox, aplay -D pulse, mpv, and the GUI players audacious (its Qt
#     interface) and qmmp, each started on the file in a fresh home;
#   recording the same format: the recorder both ways (Record, then Stop),
#     parecord, sox, arecord -D pulse;
#   at 192 kHz, each way: the recorder both ways and paplay, parecord;
#   the bare Qt window (bench/bare_window.cpp), idle, for its resident memory.
# Each is measured over the same span while it plays or records, from 1 s
# after its stream appeared in the daemon (3 s when recording: the monitor
# takes up to 2 s to hand over its first sound at a new latency): its CPU
# time (user + system, all threads) per second, that of its main thread (the
# recorder's window), the daemon's and the X server's over the same span, its
# wake-ups (voluntary context switches) per second and its resident memory at
# the end. The programs take turns, RUNS rounds, medians printed. After Stop
# the recorder's window is left idle and its wake-ups counted.
# Never fails on the figures; a peer that is not installed is skipped.
# Usage: peers.sh RECORDER CPU_SPAN [BARE_WINDOW [RUNS]]   (SPAN=seconds measured, default 5;
# THREADS=1: each thread's wake-ups and CPU time in the recorder's spans, and
# the daemon's and X server's, go to standard error)
set -u
recorder=$(realpath "$1") sampler=$(realpath "$2") bare=${3:+$(realpath "$3")} runs=${4:-3}
span=${SPAN:-5} settle=1 rec_settle=3 idle=3

# Packages only this benchmark needs; installed when missing if we can.
packages=(pulseaudio pulseaudio-utils sox libsox-fmt-pulse alsa-utils libasound2-plugins
  xvfb xdotool mpv audacious qmmp libx11-dev)
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
# under test costs it. One speaker and one microphone per rate, so that
# nothing is resampled; the default sink and source follow the rate measured.
unset QT_QPA_PLATFORM SDL_AUDIODRIVER
. "$(dirname "$0")/../tests/pulse/private_pulse.sh"
start_private_pulse "$work" <<EOF || skip "no private PulseAudio daemon"
load-module module-null-sink sink_name=speaker44100 rate=44100 channels=2
load-module module-null-sink sink_name=speaker192000 rate=192000 channels=2
load-module module-null-sink sink_name=room44100 rate=44100 channels=2
load-module module-null-sink sink_name=room192000 rate=192000 channels=2
load-module module-sine sink=room44100 frequency=440
load-module module-sine sink=room192000 frequency=440
load-module module-remap-source master=room44100.monitor source_name=mic44100
load-module module-remap-source master=room192000.monitor source_name=mic192000
load-module module-suspend-on-idle timeout=1
EOF

exec 3< <(Xvfb -displayfd 1 -noreset -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 10 display <&3 || skip "Xvfb does not start here"
export DISPLAY=":$display"

rates=(44100 192000)
for rate in "${rates[@]}"; do
  sox -n -r "$rate" -c 2 -b 16 -e signed "$work/play$rate.wav" synth 15 sine 440 sine 660 vol 0.5
  # The recorder records in the format of the template test1.wav in its folder.
  mkdir -p "$work/app$rate"
  sox -n -r "$rate" -c 2 -b 16 -e signed "$work/app$rate/test1.wav" trim 0 0.1
done
# A null sink that has never run renders two seconds ahead on its first start
# and asks for nothing meanwhile, whoever plays: start each one first.
for rate in "${rates[@]}"; do
  timeout 2 paplay -d "speaker$rate" "$work/play$rate.wav" >/dev/null 2>&1
done

# The peers, "name|how it plays|how it records|rates"; an empty field: none.
# The GUI players get a fresh home each run (gui_home), set to play through
# PulseAudio; the others get no display.
peers=(
  "paplay/parecord|paplay WAV|parecord --rate=RATE --channels=2 --format=s16le --file-format=wav OUT|44100 192000"
  "sox|sox -q WAV -t pulseaudio default|sox -q -t pulseaudio -r RATE -c 2 -b 16 -e signed default OUT|44100"
  "aplay/arecord|aplay -q -D pulse WAV|arecord -q -D pulse -f S16_LE -c 2 -r RATE -t wav OUT|44100"
  "mpv|mpv --no-config --no-video --ao=pulse --really-quiet --no-terminal WAV||44100"
  "audacious|audacious -Q -p WAV||44100"
  "qmmp|qmmp WAV||44100"
)
notes=()
for i in "${!peers[@]}"; do
  IFS='|' read -r name play rec prates <<<"${peers[$i]}"
  for cmd in "${play%% *}" "${rec%% *}"; do
    [ -z "$cmd" ] || command -v "$cmd" >/dev/null ||
      { notes+=("$name: $cmd is not installed, skipped"); peers[i]="$name|||"; }
  done
done
[ -n "$(find /usr/lib -name libasound_module_pcm_pulse.so 2>/dev/null | head -1)" ] ||
  notes+=("aplay/arecord: the ALSA pulse plugin (libasound2-plugins) is missing; their runs fail")

# streams KIND: the number of sink-inputs or source-outputs that belong to a
# client (the tones and the remapped microphones belong to modules).
streams() { pactl list short "$1" 2>/dev/null | awk '$3 != "-"' | wc -l; }
wait_stream() { # KIND: waits up to 10 s for a client's stream
  for _ in $(seq 100); do
    [ "$(streams "$1")" -gt 0 ] && return 0
    sleep 0.1
  done
  return 1
}

# measure KEY PID SECONDS [STREAMS [PATTERN]]: one span of PID, the daemon and
# the X server; appends "KEY own daemon x wakeups main_cpu main_wakeups rss"
# (ms/s, wake-ups/s, MiB) to the results. STREAMS (sink-inputs or
# source-outputs) must show a client's stream at the end of the span, or the
# run is dropped: a program that failed to play costs nothing. PATTERN, when
# given, must be found in the long listing of STREAMS ("!PATTERN": must not).
measure() {
  local line verbose=''
  [ -n "${THREADS:-}" ] && [[ $1 == *recorder* ]] && { verbose=-v; echo "peers.sh: threads of $1:" >&2; }
  line=$("$sampler" $verbose -m "$3" "$2" $pa_pid $xvfb_pid | awk -v key="$1" '{
      for (i = 2; i <= 16; ++i) if ($i == "-") exit
      s = $1 / 1e9
      printf "%s %.3f %.3f %.3f %.2f %.3f %.2f %.2f\n", key, $2 / 1e6 / s, $7 / 1e6 / s, $12 / 1e6 / s, $3 / s,
             $4 / 1e6 / s, $5 / s, $6 / 1024
    }')
  if [ -z "$line" ]; then
    echo "peers.sh: $1 ended before its span did; run dropped" >&2
    return
  fi
  if [ -n "${4:-}" ]; then
    if [ "$(streams "$4")" -eq 0 ]; then
      echo "peers.sh: $1 had no stream in the sound server; run dropped" >&2
      return
    fi
    if [ -n "${5:-}" ]; then
      local listing found=0 wanted=1
      listing=$(pactl list "$4" 2>/dev/null)
      grep -qF -- "${5#!}" <<<"$listing" && found=1
      [ "${5:0:1}" = "!" ] && wanted=0
      if [ $found != $wanted ]; then
        echo "peers.sh: $1 did not take the expected path ($5); run dropped" >&2
        return
      fi
    fi
  fi
  echo "$line" >>"$work/results"
}
stop() { # ends $pid
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=''
}

# The recorder's window, driven as a user would: buttons by their client
# position, the window at 212,146 with no frame (no window manager).
# The native path is chosen when no SDL driver is asked for; its streams carry
# the program's id, SDL's do not.
native_id='application.id = "io.github.recorder.Recorder"'
click() { xdotool mousemove $((212 + $1)) $((146 + 472 + 20)) click 1; }
button_record=$((208 + 44)) button_stop=$((424 + 44)) button_play=$((528 + 44)) button_open=$((96 + 44))
start_recorder() { # RATE PATH (native or sdl)
  # Only the template: a take left by a recorder that was ended while
  # recording would be recovered at start, with a message box over the window.
  find "$work/app$1" -mindepth 1 ! -name test1.wav -delete
  if [ "$2" = sdl ]; then
    (cd "$work/app$1" && SDL_AUDIODRIVER=pulseaudio exec "$recorder") &
  else
    (cd "$work/app$1" && exec "$recorder") &
  fi
  pid=$!
  timeout 10 xdotool search --sync --onlyvisible --name '^Form1$' >/dev/null 2>&1 ||
    { echo "peers.sh: the recorder showed no window" >&2; return 1; }
  sleep 0.3
}
path_pattern() { [ "$1" = sdl ] && echo "!$native_id" || echo "$native_id"; }
recorder_plays() { # RATE PATH
  start_recorder "$1" "$2" || { stop; return; }
  local dialog='' try
  for try in 1 2 3; do # a click that came too early is tried again
    click $button_open
    dialog=$(timeout 4 xdotool search --sync --onlyvisible --name '^Open$' 2>/dev/null | head -1)
    [ -n "$dialog" ] && break
    echo "peers.sh: no Open dialog after click $try" >&2
  done
  [ -n "$dialog" ] || { stop; return; }
  xdotool windowfocus --sync "$dialog" type --delay 5 "$work/play$1.wav"
  xdotool key --delay 50 Return
  for _ in $(seq 50); do xdotool search --onlyvisible --name '^Open$' >/dev/null 2>&1 || break; sleep 0.1; done
  click $button_play
  wait_stream sink-inputs
  sleep $settle
  measure "play.$1.recorder-$2" $pid "$span" sink-inputs "$(path_pattern "$2")"
  if [ "$2" = native ]; then
    click $button_stop
    sleep 1
    measure "idle-play.$1" $pid $idle
  fi
  stop
}
recorder_records() { # RATE PATH
  start_recorder "$1" "$2" || { stop; return; }
  click $button_record
  wait_stream source-outputs
  sleep $rec_settle
  measure "rec.$1.recorder-$2" $pid "$span" source-outputs "$(path_pattern "$2")"
  if [ "$2" = native ]; then
    click $button_stop
    sleep 1
    measure "idle-rec.$1" $pid $idle
  fi
  stop
}
gui_home() { # a fresh home for a GUI player, set to play through PulseAudio
  local home
  home=$(mktemp -d "$work/home.XXXXXX")
  mkdir -p "$home/.qmmp"
  printf '[Output]\ncurrent_plugin=pulse\n' >"$home/.qmmp/qmmprc"
  echo "$home"
}
peer() { # KEY COMMAND STREAMS SETTLE RATE
  [ -n "$2" ] || return 0
  local cmd=${2//WAV/$work/play$5.wav}
  cmd=${cmd//OUT/$work/out.wav}
  cmd=${cmd//RATE/$5}
  case $cmd in
    audacious* | qmmp*)
      (cd "$work" && HOME=$(gui_home) exec $cmd >/dev/null 2>&1 </dev/null) & ;;
    *)
      (cd "$work" && unset DISPLAY && exec $cmd >/dev/null 2>&1 </dev/null) & ;;
  esac
  pid=$!
  wait_stream "$3"
  sleep "$4"
  measure "$1" $pid "$span" "$3"
  stop
  rm -rf "$work/out.wav" "$work"/home.*
}
bare_window() {
  [ -n "$bare" ] || return 0
  "$bare" >/dev/null 2>&1 &
  pid=$!
  timeout 10 xdotool search --sync --onlyvisible --name '^Bare$' >/dev/null 2>&1 ||
    { echo "peers.sh: the bare window showed no window" >&2; stop; return; }
  sleep 1
  measure bare $pid 2
  stop
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
start=$(date +%s)
sleep 1
measure idle.server $pa_pid 3
for round in $(seq "$runs"); do
  echo "peers.sh: round $round of $runs" >&2
  bare_window
  for rate in "${rates[@]}"; do
    pactl set-default-sink "speaker$rate"
    pactl set-default-source "mic$rate"
    for path in native sdl; do recorder_plays "$rate" $path; done
    for i in "${!peers[@]}"; do
      IFS='|' read -r _ play _ prates <<<"${peers[$i]}"
      [[ " $prates " == *" $rate "* ]] && peer "play.$rate.$i" "$play" sink-inputs $settle "$rate"
    done
    for path in native sdl; do recorder_records "$rate" $path; done
    for i in "${!peers[@]}"; do
      IFS='|' read -r _ _ rec prates <<<"${peers[$i]}"
      [[ " $prates " == *" $rate "* ]] && peer "rec.$rate.$i" "$rec" source-outputs $rec_settle "$rate"
    done
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The tables: medians per key and figure.
names=""
for p in "${peers[@]}"; do names+="${p%%|*}|"; done
awk -v names="$names" -v runs="$runs" -v span="$span" -v settle="$settle" -v rec_settle="$rec_settle" \
  -v before="$load_before" -v after="$load_after" -v took=$(($(date +%s) - start)) '
function median(key, f,   n, i, j, t, v) {
  n = count[key]
  if (!n) return ""
  for (i = 1; i <= n; ++i) v[i] = val[key, i, f]
  for (i = 2; i <= n; ++i) for (j = i; j > 1 && v[j - 1] > v[j]; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
  return v[int((n + 1) / 2)]
}
# Figures: 1 own, 2 daemon, 3 X, 4 wake-ups, 5 main thread, 6 its wake-ups,
# 7 resident MiB, 8 +server, 9 +server+X, 10 all but the main thread, 11 its wake-ups.
function cell(x, fmt) { return x == "" ? "-" : sprintf(fmt, x) }
function ratio(a, b) { return a == "" || b == "" || b == 0 ? "" : a / b }
function row(label, key, recorder) {
  if (!count[key]) return
  printf "%-24s %7s %7s %7s %9s %10s %7s %7s %7s %8s %4s\n", label, cell(median(key, 1), "%.2f"),
    recorder ? cell(median(key, 10), "%.2f") : "", recorder ? cell(median(key, 5), "%.2f") : "",
    cell(median(key, 8), "%.2f"), cell(median(key, 9), "%.2f"), cell(median(key, 4), "%.1f"),
    recorder ? cell(median(key, 11), "%.1f") : "", recorder ? cell(median(key, 6), "%.1f") : "", cell(median(key, 7), "%.1f"),
    count[key]
}
function header(title) {
  printf "\n%s\n", title
  printf "%-24s %7s %7s %7s %9s %10s %7s %7s %7s %8s %4s\n", "", "own", "sound", "window", "+server", "+server+X", "wake-", "sound", "window", "resident", ""
  printf "%-24s %7s %7s %7s %9s %10s %7s %7s %7s %8s %4s\n", "", "ms/s", "ms/s", "ms/s", "ms/s", "ms/s", "ups/s", "wk/s", "wk/s", "MiB", "runs"
}
function line(what, measured, r, target, met) {
  printf "%-50s %-24s %6s  %-10s %s\n", what, measured, r == "" ? "-" : sprintf("%.2f", r), target, met
}
function met(x, limit) { return x == "" ? "" : (x <= limit ? "yes" : "no") }
{
  n = ++count[$1]
  for (f = 1; f <= 7; ++f) val[$1, n, f] = $(f + 1)
  val[$1, n, 8] = $2 + $3          # with the daemon
  val[$1, n, 9] = $2 + $3 + $4     # with the daemon and the X server
  val[$1, n, 10] = $2 - $6         # every thread but the main one
  val[$1, n, 11] = $5 - $7
}
END {
  np = split(names, name, "|") - 1
  printf "Peers through a private PulseAudio daemon (null sinks at the rate played; as the microphone the monitor\n"
  printf "of a null sink playing a tone), stereo 16-bit. CPU is user+system time, ms per second of audio, over %d s\n", span
  printf "from %d s after the program'"'"'s stream appeared in the daemon when playing, %d s when recording.\n", settle, rec_settle
  printf "Medians of %d alternating runs. own: the whole process; sound: every thread but the main one (the\n", runs
  printf "recorder'"'"'s window); window: the main thread; +server adds the PulseAudio daemon, +server+X also Xvfb\n"
  printf "over the same span; wake-ups: voluntary context switches; resident: VmRSS at the end of the span;\n"
  printf "runs: how many of the rounds gave a figure (a run without its stream in the daemon is dropped).\n"
  printf "The daemon idle: %.2f ms/s. Load average before %s, after %s; the run took %d s.\n", median("idle.server", 1), before, after, took
  split("play rec", kind, " ")
  split("44100 192000", rate, " ")
  for (k = 1; k <= 2; ++k) for (r = 1; r <= 2; ++r) {
    header(sprintf("%s, %.1f kHz", k == 1 ? "Playing a 15 s WAV" : "Recording", rate[r] / 1000))
    row("recorder (libpulse)", kind[k] "." rate[r] ".recorder-native", 1)
    row("recorder (SDL pulseaudio)", kind[k] "." rate[r] ".recorder-sdl", 1)
    for (i = 1; i <= np; ++i) {
      label = name[i]
      if (label ~ /\//) { split(label, two, "/"); label = two[k] }
      row(label, kind[k] "." rate[r] "." (i - 1), 0)
    }
    if (k == 1 && r == 1) row("bare Qt window, idle", "bare", 1)
  }
  lightest = ""
  for (i = 1; i <= np; ++i) {
    if (name[i] ~ /^paplay/) for (r = 1; r <= 2; ++r) {
      paplay[rate[r]] = median("play." rate[r] "." (i - 1), 1); parecord[rate[r]] = median("rec." rate[r] "." (i - 1), 1)
    }
    if (name[i] == "audacious" || name[i] == "qmmp") {
      g = median("play.44100." (i - 1), 1)
      if (g != "" && (lightest == "" || g < lightest)) { lightest = g; lightest_name = name[i] }
    }
  }
  printf "\n%-50s %-24s %6s  %-10s %s\n", "the recorder through libpulse", "measured", "ratio", "target", "met"
  for (r = 1; r <= 2; ++r) {
    kr = sprintf("%.1f kHz", rate[r] / 1000)
    p = median("play." rate[r] ".recorder-native", 10)
    line("playing " kr ": sound path / paplay", cell(p, "%.2f") " / " cell(paplay[rate[r]], "%.2f ms/s"), ratio(p, paplay[rate[r]]),
      "<= 3", met(ratio(p, paplay[rate[r]]), 3))
    p = median("rec." rate[r] ".recorder-native", 10)
    line("recording " kr ": sound path / parecord", cell(p, "%.2f") " / " cell(parecord[rate[r]], "%.2f ms/s"), ratio(p, parecord[rate[r]]),
      "<= 3", met(ratio(p, parecord[rate[r]]), 3))
  }
  for (r = 1; r <= 2; ++r) for (k = 1; k <= 2; ++k) {
    w = median(kind[k] "." rate[r] ".recorder-native", 11)
    line(sprintf("%s %.1f kHz: sound path wake-ups", k == 1 ? "playing" : "recording", rate[r] / 1000), cell(w, "%.1f /s"), "",
      "<= 10 /s", met(w, 10))
  }
  p = median("play.44100.recorder-native", 1)
  line("playing 44.1 kHz: process / " (lightest == "" ? "lighter GUI player" : lightest_name), cell(p, "%.2f") " / " cell(lightest, "%.2f ms/s"),
    ratio(p, lightest), "<= 0.5", met(ratio(p, lightest), 0.5))
  for (r = 1; r <= 2; ++r) {
    p = median("rec." rate[r] ".recorder-native", 1)
    line(sprintf("recording %.1f kHz: process", rate[r] / 1000), cell(p, "%.2f ms/s"), "", "<= 3 ms/s", met(p, 3))
  }
  p = median("play.44100.recorder-native", 7); b = median("bare", 7)
  line("playing 44.1 kHz: resident memory - bare window", cell(p, "%.1f") " - " cell(b, "%.1f MiB"), "", "<= +8 MiB",
    p == "" || b == "" ? "" : met(p - b, 8))
  if (p != "" && b != "") printf "%-50s %+.1f MiB\n", "  difference", p - b
  for (r = 1; r <= 2; ++r) {
    w = median("idle-play." rate[r], 4)
    line(sprintf("idle window after Stop of playing, %.1f kHz", rate[r] / 1000), cell(w, "%.1f /s"), "", "about 0", "")
    w = median("idle-rec." rate[r], 4)
    line(sprintf("idle window after Stop of recording, %.1f kHz", rate[r] / 1000), cell(w, "%.1f /s"), "", "about 0", "")
  }
}' "$work/results" | sed 's/ *$//'
for n in "${notes[@]}"; do echo "note: $n"; done
exit 0
