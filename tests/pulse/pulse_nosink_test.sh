#!/usr/bin/env bash
# A sound server with a microphone but no speaker: a private PulseAudio
# daemon with only a null source. SDL's PulseAudio code can crash on such a
# server; the engine must instead say, for Play and for Record alike, that
# the device is missing, and go on. Runs the no-device test binary given
# (its cases hold for any server without a usable device) against that
# daemon. Exit code 77: the daemon cannot start on this machine.
set -u
test_binary=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/recorder-nosink.XXXXXX")
pa_pid=''
cleanup() {
  [ -z "$pa_pid" ] || { kill "$pa_pid" 2>/dev/null; wait "$pa_pid" 2>/dev/null; }
  rm -rf "$work"
}
trap cleanup EXIT
skip() { echo "SKIP: $*"; exit 77; }

mkdir -p "$work/run" "$work/home"
chmod 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run" HOME="$work/home"
export PULSE_SERVER="unix:$work/run/pulse/native" PULSE_CLIENTCONFIG="$work/client.conf"
unset PULSE_SINK PULSE_SOURCE DBUS_SESSION_BUS_ADDRESS
echo "autospawn = no" >"$work/client.conf"
echo "load-module module-native-protocol-unix" >"$work/daemon.pa"
command -v pulseaudio >/dev/null || skip "pulseaudio is not installed"
pulseaudio -n -F "$work/daemon.pa" --daemonize=no --exit-idle-time=-1 >"$work/daemon.log" 2>&1 &
pa_pid=$!
for _ in $(seq 50); do
  pactl info >/dev/null 2>&1 && break
  kill -0 $pa_pid 2>/dev/null || break
  sleep 0.1
done
pactl info >/dev/null 2>&1 || { tail -5 "$work/daemon.log"; skip "pulseaudio does not start here"; }
pactl load-module module-null-source source_name=mic >/dev/null ||
  { echo "FAIL: the daemon does not take the source"; exit 1; }

SDL_AUDIODRIVER=pulseaudio "$test_binary"
