#!/usr/bin/env bash
# Start-up to the first shown window: the recorder against a bare Qt window
# program, both under the same private X server, run alternately, median of
# several runs. mapwait (built beside bare_window) takes the time from the X
# server's map notification, so nothing polls while the programs start.
# Prints both medians and their ratio.
# Usage: startup.sh RECORDER BARE_WINDOW MAPWAIT [RUNS]
set -eu
recorder=$(realpath "$1") bare=$(realpath "$2") mapwait=$(realpath "$3") runs=${4:-15}
work=$(mktemp -d)
# -noreset: without it the server resets whenever its last client leaves, and
# a program connecting at that moment fails to open the display.
exec 3< <(Xvfb -displayfd 1 -noreset -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
read -r -t 10 display <&3
export DISPLAY=":$display" SDL_AUDIODRIVER=dummy XDG_RUNTIME_DIR="$work"
unset QT_QPA_PLATFORM # the caller may run headless; these windows must reach X
cp "$(dirname "$0")/../scripts/test1.wav" "$work/"

median() { sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }

cd "$work"
for _ in $(seq "$runs"); do
  "$mapwait" Bare "$bare" >>"$work/bare"
  "$mapwait" Form1 "$recorder" >>"$work/recorder"
done
b=$(median <"$work/bare"); r=$(median <"$work/recorder")
awk -v b="$b" -v r="$r" 'BEGIN{printf "start-up to window  bare Qt %6.1f ms  recorder %6.1f ms  ratio %.2f (target <= 1.20)\n", b/1000, r/1000, r/b}'
