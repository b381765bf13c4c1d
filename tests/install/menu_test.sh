#!/usr/bin/env bash
# The installed program started as a desktop menu starts it: the desktop
# entry's Exec line, found on PATH, run from a fresh home folder under Xvfb.
# It makes the recordings folder with the template, and the program records
# there: Record, about 2 s, Stop leave a Temp.wav of that length beside the
# template, with no error box. SDL's disk driver is the microphone, at a
# microphone's pace. The Open and Save dialogs, shown and closed, leave no
# settings file behind.
set -u
build=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/recorder menu.XXXXXX") # a name with a space
xvfb_pid='' pid=''
cleanup() {
  for p in $pid $xvfb_pid; do kill "$p" 2>/dev/null; done
  for p in $pid $xvfb_pid; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail=0
say() { echo "$@"; }
bad() { echo "FAIL: $*"; fail=1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/applications/io.github.recorder.Recorder.desktop")
template=$prefix/share/recorder/test1.wav

. "$(dirname "$0")/../pulse/window.sh"
start_x_server || { echo "FAIL: no X server"; exit 1; }
sox -n -r 48000 -c 2 -b 16 -e signed -t raw "$work/mic.raw" synth 20 whitenoise vol 0.5
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILEIN="$work/mic.raw" SDL_DISKAUDIOFILE=/dev/null
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"
unset SDL_DISKAUDIODELAY PULSE_SERVER DBUS_SESSION_BUS_ADDRESS XDG_CONFIG_HOME XDG_MUSIC_DIR

# from_menu HOME: runs the Exec line as a menu does, in the home folder with
# the installed programs on PATH; waits for the window. The shell, the
# launcher and the program each replace the one before, so pid is the program's.
from_menu() {
  (cd "$1" && HOME=$1 PATH="$prefix/bin:$PATH" exec sh -c "exec $exec_line") &
  pid=$!
  timeout 10 xdotool search --sync --onlyvisible --pid "$pid" --name '^Form1$' >/dev/null 2>&1 ||
    { bad "the window did not show"; return 1; }
  sleep 0.5
}
no_box() { # WHEN: no message box is up
  local box; box=$(message_box 1)
  [ -z "$box" ] || { bad "$1: a message box: $(xdotool getwindowname "$box")"; xdotool key --window "$box" Return; }
}
exit_program() {
  click $quit
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && { bad "Exit did not end the program"; kill "$pid"; }
  wait "$pid" 2>/dev/null; pid=''
}
# dialog TITLE: the dialog opened by the last click shows; Escape closes it.
dialog() {
  local d; d=$(timeout 10 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
  [ -n "$d" ] || { bad "no $1 dialog"; return; }
  xdotool windowfocus --sync "$d" key Escape
  for _ in $(seq 50); do xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return; sleep 0.1; done
  bad "the $1 dialog did not close"
}

# record_in HOME FOLDER: started from the menu, records about 2 s and stops;
# FOLDER then holds the template and a Temp.wav of the time between the clicks.
record_in() {
  from_menu "$1" || return
  no_box "at start"
  [ "$(readlink "/proc/$pid/cwd")" = "$(realpath "$2")" ] || bad "the program runs in $(readlink "/proc/$pid/cwd"), not $2"
  cmp -s "$2/test1.wav" "$template" || bad "$2 has no copy of the template"
  local t0 t1
  click $record; t0=$EPOCHREALTIME
  sleep 2
  click $stop; t1=$EPOCHREALTIME
  sleep 1
  no_box "after Record and Stop"
  local took; took=$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.2f", b - a}')
  if soxi "$2/Temp.wav" >/dev/null 2>&1; then
    local s; s=$(soxi -D "$2/Temp.wav")
    [ "$(soxi -r "$2/Temp.wav") $(soxi -c "$2/Temp.wav")" = "48000 2" ] || bad "Temp.wav is not 48 kHz stereo"
    # The clicks reach the program a little after they are timed, and the
    # device starts within a buffer or two.
    awk -v s="$s" -v t="$took" 'BEGIN{exit !(s > t - 0.6 && s < t + 0.3)}' &&
      say "ok $2/Temp.wav holds $s s, recorded for $took s" || bad "Temp.wav holds $s s, recorded for $took s"
  else
    bad "no Temp.wav in $2"
  fi
}

# 1. A home with no XDG user directories: ~/Recordings. The dialogs leave no
# settings file.
home=$work/home1
mkdir -p "$home"
record_in "$home" "$home/Recordings"
click $open; dialog Open
click $((320 + 44)); dialog 'Save As' # Save
no_box "after the dialogs"
exit_program
found=$(cd "$home" && find . -path ./Recordings -prune -o -type f -print)
[ -z "$found" ] && say "ok the Open and Save dialogs wrote no settings" || bad "files written in the home folder: $found"

# 2. A home whose user directories name a music folder with a space in it,
# as xdg-user-dirs-update writes them.
home=$work/home2
mkdir -p "$home/.config"
cat >"$home/.config/user-dirs.dirs" <<'EOF'
# This file is written by xdg-user-dirs-update
XDG_DESKTOP_DIR="$HOME/Desktop"
XDG_MUSIC_DIR="$HOME/My Music"
EOF
record_in "$home" "$home/My Music/Recordings"
exit_program

# 3. An absolute music folder in XDG_CONFIG_HOME's user directories, and a
# template of the user's own already there, which stays. Without a display
# the program only says so and ends, after the launcher did its part.
home=$work/home3 config=$work/config3 music=$work/music3
mkdir -p "$home" "$config" "$music/Recordings"
echo "XDG_MUSIC_DIR=\"$music\"" >"$config/user-dirs.dirs"
sox -n -r 44100 -c 1 -b 16 -e signed "$music/Recordings/test1.wav" trim 0 0
cp "$music/Recordings/test1.wav" "$work/own.wav"
(cd "$home" && HOME=$home XDG_CONFIG_HOME=$config PATH="$prefix/bin:$PATH" DISPLAY= WAYLAND_DISPLAY= \
  sh -c "exec $exec_line") >/dev/null 2>&1
cmp -s "$music/Recordings/test1.wav" "$work/own.wav" && [ ! -e "$home/Recordings" ] &&
  say "ok an own template in XDG_CONFIG_HOME's music folder stays" ||
  bad "the launcher did not keep the own template in $music/Recordings"
exit $fail
