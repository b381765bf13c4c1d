# Sourced by the scripts that need a sound server of their own. Defines
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
  for _ in $(seq 50); do
    pactl info >/dev/null 2>&1 && return 0
    kill -0 $pa_pid 2>/dev/null || break
    sleep 0.1
  done
  tail -5 "$work/daemon.log"
  echo "pulseaudio does not start here"
  return 1
}
