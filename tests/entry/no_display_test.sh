#!/usr/bin/env bash
# The real program where no window can be shown: one plain line on stderr,
# exit code 0, no abort and no core file.
set -u
recorder=$1
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
headless='run it inside a desktop session, or headless under xvfb-run'

# An X display number nothing listens on.
free=99
while [ -e "/tmp/.X11-unix/X$free" ] || [ -e "/tmp/.X$free-lock" ]; do free=$((free + 1)); done

check() { # name, expected line, then the environment to run with
  local name=$1 expected=$2 rc lines
  shift 2
  (cd "$work" && ulimit -c unlimited && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE \
      XDG_RUNTIME_DIR="$work" "$@" timeout 20 "$recorder" >"$work/out" 2>"$work/err")
  rc=$?
  lines=$(wc -l <"$work/err")
  if [ $rc -ne 0 ]; then echo "FAIL $name: exit code $rc"; fail=1
  elif [ "$lines" -ne 1 ] || [ "$(cat "$work/err")" != "$expected" ]; then
    echo "FAIL $name: expected on stderr only: $expected"; echo "got:"; cat "$work/err"; fail=1
  elif ls "$work" | grep -q '^core'; then echo "FAIL $name: core file"; fail=1
  else echo "ok $name"; fi
  [ -s "$work/out" ] && { echo "FAIL $name: wrote to stdout:"; cat "$work/out"; fail=1; }
  rm -f "$work"/core* "$work/out" "$work/err"
}

check "no display" "recorder: no display found; $headless"
check "a display nothing answers on" "recorder: cannot open the display \":$free\"; $headless" DISPLAY=":$free"
check "xcb asked for with no display" \
  "recorder: the display platform \"xcb\" (QT_QPA_PLATFORM) is not usable here; $headless" QT_QPA_PLATFORM=xcb
check "wayland asked for with no compositor" \
  "recorder: the display platform \"wayland\" (QT_QPA_PLATFORM) is not usable here; $headless" QT_QPA_PLATFORM=wayland
check "a platform plugin that does not exist" \
  "recorder: the display platform \"nosuchplatform\" (QT_QPA_PLATFORM) is not usable here; $headless" \
  QT_QPA_PLATFORM=nosuchplatform DISPLAY=":$free"
exit $fail
