# shellcheck shell=bash
# Sourced by the scripts that need a sound server of their own.
#
# begin_pulse_test NAME: makes the temporary folder $work (no spaces: a
# server address is split at whitespace) and, at exit, ends the processes in
# $pid $mon_pid $feed_pid $pa_pid $pw_pid $xvfb_pid and removes the folder
# unless KEEP is set. say, bad (the test fails) and skip (exit 77) give verdicts.
#
# Defines
# start_private_pulse WORK: starts a PulseAudio daemon whose runtime folder,
# home (cookie) and client settings all live in WORK, so that no other sound
# server is seen or started, with the native protocol and the daemon.pa lines
# read from standard input. Exports the client's environment and sets
# pa_pid. Returns 1, saying why, when the daemon cannot start here.
start_private_pulse() {
  local work=$1
  mkdir -p "$work/run" "$work/home"
  chmod 700 "$work/run"
  export XDG_RUNTIME_DIR="$work/run" HOME="$work/home"
  export PULSE_SERVER="unix:$work/run/pulse/native" PULSE_CLIENTCONFIG="$work/client.conf"
  unset PULSE_SINK PULSE_SOURCE DBUS_SESSION_BUS_ADDRESS
  echo "autospawn = no" >"$work/client.conf"
  { echo "load-module module-native-protocol-unix"; cat; } >"$work/daemon.pa"
  command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed"; return 1; }
  pulseaudio -n -F "$work/daemon.pa" --daemonize=no --exit-idle-time=-1 >"$work/daemon.log" 2>&1 &
  pa_pid=$!
  await_server && return 0
  tail -5 "$work/daemon.log"
  echo "pulseaudio does not start here"
  return 1
}

# start_private_pipewire WORK SINK...: the same through PipeWire, its session
# manager (WirePlumber) and its PulseAudio server (pipewire-pulse), all with
# their runtime folder, settings and state in WORK and no D-Bus: WirePlumber
# is told to leave out what needs one (ALSA device reservation, Bluetooth,
# logind, the Flatpak portal), which it otherwise gives up on at start. Each
# SINK is a null sink made in PipeWire's own settings: the session manager
# here links no stream to one made through pactl. The graph runs at the
# stream's rate, so 44.1 and 192 kHz go through unresampled. Sets pw_pid to
# pipewire and WirePlumber, pa_pid to pipewire-pulse (the server clients talk
# to). Returns 1, saying why, when they cannot start here.
start_private_pipewire() {
  local work=$1 sink p; shift
  mkdir -p "$work/run" "$work/home/.config/pipewire/pipewire.conf.d" "$work/home/.config/wireplumber/main.lua.d" \
    "$work/home/.config/wireplumber/bluetooth.lua.d"
  chmod 700 "$work/run"
  export XDG_RUNTIME_DIR="$work/run" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
  export XDG_STATE_HOME="$work/home/.state" PULSE_SERVER="unix:$work/run/pulse/native"
  export PULSE_CLIENTCONFIG="$work/client.conf"
  unset PULSE_SINK PULSE_SOURCE DBUS_SESSION_BUS_ADDRESS PIPEWIRE_REMOTE
  echo "autospawn = no" >"$work/client.conf"
  {
    echo "context.properties = { default.clock.allowed-rates = [ 44100 48000 96000 192000 ] }"
    echo "context.objects = ["
    for sink; do
      echo "  { factory = adapter args = { factory.name = support.null-audio-sink node.name = $sink"
      echo "    media.class = Audio/Sink audio.position = [ FL FR ] object.linger = true } }"
    done
    echo "]"
  } >"$work/home/.config/pipewire/pipewire.conf.d/private.conf"
  printf '%s\n' 'alsa_monitor.enabled = false' 'v4l2_monitor.enabled = false' 'libcamera_monitor.enabled = false' \
    'default_access.properties["enable-flatpak-portal"] = false' >"$work/home/.config/wireplumber/main.lua.d/60-private.lua"
  printf '%s\n' 'bluez_monitor.enabled = false' 'bluez_monitor.properties["with-logind"] = false' \
    >"$work/home/.config/wireplumber/bluetooth.lua.d/60-private.lua"
  for p in pipewire wireplumber pipewire-pulse; do
    command -v $p >/dev/null || { echo "$p is not installed"; return 1; }
  done
  pipewire >"$work/pipewire.log" 2>&1 &
  pw_pid=$!
  for _ in $(seq 50); do [ -S "$work/run/pipewire-0" ] && break; sleep 0.1; done
  wireplumber >"$work/wireplumber.log" 2>&1 &
  pw_pid="$pw_pid $!"
  start_pipewire_pulse "$work" </dev/null
  local sinks ready
  for _ in $(seq 50); do
    # Ready once the server lists every sink.
    sinks=$(pactl list short sinks 2>/dev/null) ready=1
    for sink; do grep -qw "$sink" <<<"$sinks" || ready=''; done
    [ -n "$sinks" ] && [ -n "$ready" ] && return 0
    sleep 0.1
  done
  for p in pipewire wireplumber pipewire-pulse; do tail -3 "$work/$p.log"; done
  echo "PipeWire does not start here"
  return 1
}

# start_pipewire_pulse WORK: starts pipewire-pulse (again) in the settings
# start_private_pipewire made, loading the modules of the "load-module NAME
# ARGS" lines on standard input before it answers, and waits for it to
# answer. Sets pa_pid. Returns 1 when it does not answer.
start_pipewire_pulse() {
  local work=$1 line
  mkdir -p "$work/home/.config/pipewire/pipewire-pulse.conf.d"
  {
    echo "pulse.cmd = ["
    while read -r line; do echo "  { cmd = \"load-module\" args = \"${line#load-module }\" }"; done
    echo "]"
  } >"$work/home/.config/pipewire/pipewire-pulse.conf.d/private.conf"
  pipewire-pulse >>"$work/pipewire-pulse.log" 2>&1 &
  pa_pid=$!
  await_server
}

# await_server: waits up to 5 s for the server ($pa_pid) to answer; returns 1
# when it does not, or when it ends first.
await_server() {
  for _ in $(seq 50); do
    pactl info >/dev/null 2>&1 && return 0
    kill -0 $pa_pid 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

begin_pulse_test() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  pa_pid='' pw_pid='' xvfb_pid='' feed_pid='' mon_pid='' pid=''
  trap end_pulse_test EXIT
  trap 'exit 1' INT TERM HUP
  fail=0
}
end_pulse_test() {
  for p in $pid $mon_pid $feed_pid $pa_pid $pw_pid $xvfb_pid; do kill "$p" 2>/dev/null; done
  for p in $pid $mon_pid $feed_pid $pa_pid $pw_pid $xvfb_pid; do wait "$p" 2>/dev/null; done
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
say() { echo "$@"; }
bad() { echo "FAIL: $*"; fail=1; }
skip() { echo "SKIP: $*"; exit 77; }
