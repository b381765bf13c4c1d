# shellcheck shell=bash disable=SC2034  # the names below are used by the scripts that source this
# Sourced by the scripts that click through the real program's window.
#   start_x_server          starts a private Xvfb, exports DISPLAY, sets xvfb_pid
#   start_recorder BIN DIR  starts the program in DIR and waits for its window; sets pid
#   click X                 clicks the button at client x X; the buttons'
#                           positions are $open $record $stop $play $quit
#   choose_file PATH        clicks Open and picks PATH in its dialog
#   message_box [SECONDS]   waits for a message box; prints its window id
#   box_text                prints what the last error box said (the program
#                           is started with $box_log, tests/support/box_log.cpp,
#                           preloaded when that is set; BOX_LOG names its file)
#   seek_click FRACTION     middle-clicks the scroll bar at FRACTION (0 to 1)
#                           of its groove, which moves its thumb there
# Each returns 1, saying why, when it cannot do its part.
open=$((96 + 44)) record=$((208 + 44)) stop=$((424 + 44)) play=$((528 + 44)) quit=$((640 + 48))

start_x_server() {
  # -noreset: a program started just after the last one ended would
  # otherwise find the server resetting, and no display.
  exec 3< <(Xvfb -displayfd 1 -noreset -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
  xvfb_pid=$!
  local display
  read -r -t 10 display <&3 || { echo "Xvfb did not start"; return 1; }
  export DISPLAY=":$display"
  unset QT_QPA_PLATFORM
}

start_recorder() {
  (cd "$2" && if [ -n "${box_log:-}" ]; then LD_PRELOAD=$box_log exec "$1"; else exec "$1"; fi) &
  pid=$!
  timeout 10 xdotool search --sync --onlyvisible --pid "$pid" --name '^Form1$' >/dev/null 2>&1 ||
    { echo "the window did not show"; return 1; }
  sleep 0.5
}

click() { xdotool mousemove $((212 + $1)) $((146 + 472 + 20)) click 1; }

choose_file() {
  local dialog
  click $open
  dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Open$' 2>/dev/null | head -1)
  [ -n "$dialog" ] || { echo "no Open dialog"; return 1; }
  xdotool windowfocus --sync "$dialog" type --delay 5 "$1"
  xdotool key --delay 50 Return
  for _ in $(seq 50); do xdotool search --onlyvisible --name '^Open$' >/dev/null 2>&1 || return 0; sleep 0.1; done
  echo "the Open dialog did not close"
  return 1
}

message_box() {
  timeout "${1:-5}" xdotool search --sync --onlyvisible --name '^Recorder$' 2>/dev/null | head -1
}

box_text() { tail -1 "$BOX_LOG" 2>/dev/null; }

# The bar is 305 pixels wide at client (328, 352), with an arrow button of
# about 16 pixels at each end.
seek_click() {
  xdotool mousemove $((212 + 328 + 16 + $(awk -v f="$1" 'BEGIN{printf "%d", f * 273}'))) $((146 + 352 + 12)) click 2
}
