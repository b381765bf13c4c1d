#!/usr/bin/env bash
# The real program in a real X server: its window's place and size, Exit and,
# under window managers with and without a frame, the outer frame's place and
# size, resizing and the close box. Screenshots are kept in artefacts/.
set -u
recorder=$1
art="$(pwd)/artefacts"
mkdir -p "$art"
work=$(mktemp -d "${TMPDIR:-/tmp}/recorder desktop.XXXXXX") # a name with a space
trap 'kill $wm_pid $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
wm_pid=
fail=0
say() { echo "$@"; }
bad() { echo "FAIL: $*"; fail=1; }

# -noreset: a program started just after the last one ended would
# otherwise find the server resetting, and no display.
exec 3< <(Xvfb -displayfd 1 -noreset -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r -t 10 display <&3 || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$display" SDL_AUDIODRIVER=dummy
unset QT_QPA_PLATFORM
cp "$(dirname "$0")/../../scripts/test1.wav" "$work/test1.wav"

start() { # starts the program in the working folder with stray arguments
  (cd "$work" && exec "$recorder" --help -platform none foo) &
  pid=$!
  wid=$(xdotool search --sync --onlyvisible --name '^Form1$' 2>/dev/null | head -1)
  sleep 0.5
}
geom() { xwininfo -id "$wid" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}'; }
exits_within() { # seconds: waits for the program, checks exit code 0
  local t=0
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.1; t=$((t + 1))
    [ $t -gt $(( $1 * 10 )) ] && { bad "still running after $1 s"; kill "$pid"; return 1; }
  done
  wait "$pid"; local rc=$?
  [ $rc -eq 0 ] || { bad "exit code $rc"; return 1; }
}
size_becomes() { # width height: waits up to 3 s for the window to take that size
  local t=0 w h
  while [ $t -lt 30 ]; do
    read -r _ _ w h < <(geom)
    [ "$w $h" = "$1 $2" ] && return 0
    sleep 0.1; t=$((t + 1))
  done
  bad "window is ${w}x$h, not $1x$2"
}

# 1. Place and size of the window, with arguments that must change nothing;
# Exit sits at client (640, 472) size 97 x 41.
start
[ "$(geom)" = "212 146 870 640" ] && say "ok window at 212,146 size 870x640" || bad "window geometry $(geom)"
import -window root "$art/window.png"
xdotool mousemove $((212 + 640 + 48)) $((146 + 472 + 20)) click 1
exits_within 1 && say "ok Exit ends the program with code 0"

# 2. Under a window manager the definition's place and size are the outer
# frame's, and the close box ends the program as Exit does.
openbox >/dev/null 2>&1 & wm_pid=$!
sleep 1
start
read -r left right top bottom < <(xprop -id "$wid" _NET_FRAME_EXTENTS | tr -dc '0-9 ,' | tr ',' ' ')
read -r x y w h < <(geom)
frame="$((x - left)) $((y - top)) $((w + left + right)) $((h + top + bottom))"
[ "$frame" = "212 146 870 640" ] && say "ok frame at 212,146 size 870x640 (borders $left $right $top $bottom)" \
  || bad "frame geometry $frame (borders $left $right $top $bottom)"
import -window root "$art/framed.png"
wmctrl -c Form1
exits_within 1 && say "ok the close box ends the program with code 0"

# 3. Under a window manager that draws no frame the window keeps the
# definition's place and size, and can still be resized and maximised: the
# fit to the frame is made once, not forever.
kill "$wm_pid" 2>/dev/null; wait "$wm_pid" 2>/dev/null
cat >"$work/rc.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><keepBorder>no</keepBorder></theme>
  <applications><application class="*"><decor>no</decor></application></applications>
</openbox_config>
EOF
openbox --config-file "$work/rc.xml" >/dev/null 2>&1 & wm_pid=$!
sleep 1
start
extents=$(xprop -id "$wid" _NET_FRAME_EXTENTS | tr -dc '0-9,')
[ "$extents" = "0,0,0,0" ] || bad "frame extents '$extents' under a window manager told to draw no frame"
[ "$(geom)" = "212 146 870 640" ] && say "ok frameless window at 212,146 size 870x640" || bad "frameless window geometry $(geom)"
xdotool windowsize "$wid" 600 450
if size_becomes 600 450; then
  sleep 1 # a fit that never ended would size it back
  size_becomes 600 450 && say "ok frameless window resized to 600x450"
fi
wmctrl -r Form1 -b add,maximized_vert,maximized_horz
size_becomes 1280 1024 && say "ok frameless window maximised to 1280x1024"
import -window root "$art/frameless.png"
wmctrl -c Form1
exits_within 1 && say "ok the frameless window closes with code 0"
exit $fail
