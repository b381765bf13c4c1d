#!/usr/bin/env bash
# `cmake --install` puts the program, its desktop entry and its icon where a
# desktop finds them.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/recorder share/applications/recorder.desktop share/icons/hicolor/32x32/apps/recorder.xpm; do
  [ -e "$prefix/$f" ] || { echo "FAIL: $f not installed"; exit 1; }
done
desktop-file-validate "$prefix/share/applications/recorder.desktop"
grep -q '^Icon=recorder$' "$prefix/share/applications/recorder.desktop"
echo "ok installed program, desktop entry and icon"
