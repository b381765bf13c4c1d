#!/usr/bin/env bash
# Start-up to the first shown window: the recorder against a bare Qt window
# program, both under the same private X server, median of several runs.
# Prints both medians and their ratio.
set -eu
recorder=$(realpath "$1") bare=$(realpath "$2") runs=${3:-15}
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

time_to_window() { # program, window title: milliseconds until it is visible
  local start end pid
  start=$(date +%s%N)
  (cd "$work" && exec "$1") & pid=$!
  until xdotool search --onlyvisible --name "^$2\$" >/dev/null 2>&1; do
    if ! kill -0 "$pid" 2>/dev/null || (( $(date +%s%N) - start > 30000000000 )); then
      echo "startup.sh: $1 showed no window \"$2\"" >&2
      kill "$pid" 2>/dev/null || true
      exit 1
    fi
    sleep 0.002
  done
  end=$(date +%s%N)
  kill "$pid"; wait "$pid" 2>/dev/null || true
  echo $(( (end - start) / 1000 ))
}
median() { sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }

for _ in $(seq "$runs"); do
  time_to_window "$bare" Bare >>"$work/bare"
  time_to_window "$recorder" Form1 >>"$work/recorder"
done
b=$(median <"$work/bare"); r=$(median <"$work/recorder")
awk -v b="$b" -v r="$r" 'BEGIN{printf "start-up to window  bare Qt %6.1f ms  recorder %6.1f ms  ratio %.2f (target <= 1.30)\n", b/1000, r/1000, r/b}'
