#!/usr/bin/env bash
# Installs the Debian packages the recorder needs, when any is missing.
#   deps.sh run    what building and running the program needs
#   deps.sh test   that, and the tools the test suite and the packaging use
# Safe to run again: it does nothing when all are there.
set -euo pipefail

purpose=${1:-}
run=(
  cmake g++ make pkg-config
  qt6-base-dev libpulse-dev libsdl2-dev libsndfile1-dev libfontconfig-dev
  librsvg2-bin            # draws the PNG icons from the SVG at build time
  fonts-dejavu-core
  qt6-wayland             # so the window opens on a Wayland-only desktop
)
test=(
  libgtest-dev googletest
  libogg-dev              # the damaged Ogg files' page checksums
  xvfb xauth xdotool x11-apps x11-utils imagemagick openbox wmctrl
  sox libsox-fmt-all
  clang
  pulseaudio libasound2-plugins   # a sound server for the real-server tests; ALSA's way to it
  pipewire pipewire-pulse wireplumber   # the same tests through PipeWire
  dpkg-dev lintian desktop-file-utils appstream man-db groff-base
)
case $purpose in
  run) packages=("${run[@]}") ;;
  test) packages=("${run[@]}" "${test[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

# Each reads the whole answer before matching: under pipefail, a grep -q that
# stops reading early could fail the command that writes to it.
installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]; }
available() {
  local policy
  policy=$(LC_ALL=C apt-cache policy "$1" 2>/dev/null)
  grep -q 'Candidate: [^(]' <<<"$policy"
}

# clang's fuzzer and sanitizer runtime (libFuzzer, ASan, UBSan). Debian 12,
# Debian 13 and Ubuntu 24.04 name it libclang-rt-dev, a package that follows
# the default clang; older releases have only the versioned name, and before
# that the runtime came with clang itself. Debian lists it as a Recommends,
# which --no-install-recommends below would skip.
clang_runtime() {
  local version
  available libclang-rt-dev && { echo libclang-rt-dev; return; }
  version=$(LC_ALL=C apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p')
  [ -n "$version" ] && available "libclang-rt-$version-dev" && echo "libclang-rt-$version-dev"
  return 0
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
# The runtime is there when the default name, or the versioned one of the
# installed clang, is installed.
need_runtime=0
if [ "$purpose" = test ] && ! installed libclang-rt-dev; then
  version=$(dpkg-query -W -f='${Depends}' clang 2>/dev/null | sed -n 's/^clang-\([0-9][0-9]*\).*/\1/p')
  [ -n "$version" ] && installed "libclang-rt-$version-dev" || need_runtime=1
fi
[ ${#missing[@]} -eq 0 ] && [ $need_runtime = 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# Another apt-get may hold the lock: wait for it rather than fail.
wait_lock=(-o DPkg::Lock::Timeout=600)
$sudo apt-get "${wait_lock[@]}" update -q
if [ $need_runtime = 1 ]; then
  runtime=$(clang_runtime)
  [ -n "$runtime" ] && missing+=("$runtime")
fi
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
DEBIAN_FRONTEND=noninteractive $sudo apt-get "${wait_lock[@]}" install -y -q --no-install-recommends "${missing[@]}"
