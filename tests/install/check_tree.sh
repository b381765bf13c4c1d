#!/usr/bin/env bash
# Checks an installed tree, given as its prefix (/usr or the like), the way a
# desktop reads it: exactly the expected files, the desktop entry and the
# metainfo valid, all naming each other and the program by one application
# id, icons at their sizes, and a man page man can read.
set -eu
root=$1
id=io.github.recorder.Recorder
fail() { echo "FAIL: $*"; exit 1; }

expected=(
  bin/recorder
  bin/recorder-launch
  share/applications/$id.desktop
  share/doc/recorder/changelog.gz
  share/icons/hicolor/128x128/apps/$id.png
  share/icons/hicolor/256x256/apps/$id.png
  share/icons/hicolor/48x48/apps/$id.png
  share/icons/hicolor/64x64/apps/$id.png
  share/icons/hicolor/scalable/apps/$id.svg
  share/man/man1/recorder-launch.1.gz
  share/man/man1/recorder.1.gz
  share/metainfo/$id.metainfo.xml
  share/recorder/test1.wav
)
found=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
diff <(printf '%s\n' "${expected[@]}" | LC_ALL=C sort) <(echo "$found") >&2 ||
  fail "the installed files differ from the expected ones (< expected, > installed)"

desktop=$root/share/applications/$id.desktop
metainfo=$root/share/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop entry is not valid"
report=$(appstreamcli validate --no-net "$metainfo" 2>&1) || { echo "$report"; fail "metainfo is not valid"; }

# One id throughout: the entry's icon, the metainfo's id and launchable, and
# the desktop file name the program gives its window.
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's icon is not $id"
grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "the metainfo launches no $id.desktop"
grep -qF "$id" "$root/bin/recorder" || fail "the program does not name its desktop file $id"
exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$root/bin/$exec" ] || fail "the desktop entry runs $exec, which is not installed"

# The template the launcher copies into a new recordings folder: 48 kHz stereo
# 16-bit PCM with no frames, under the plain PCM format tag (1) that every
# WAV reader knows.
template=$root/share/recorder/test1.wav
[ "$(soxi -r "$template") $(soxi -c "$template") $(soxi -b "$template") $(soxi -s "$template")" = "48000 2 16 0" ] ||
  fail "the template is not 48 kHz stereo 16-bit with no frames: $(soxi "$template")"
[ "$(od -An -tu2 -j20 -N2 "$template" | tr -d ' ')" = 1 ] || fail "the template's format tag is not 1 (PCM)"

for size in 48 64 128 256; do
  got=$(identify -format '%wx%h' "$root/share/icons/hicolor/${size}x${size}/apps/$id.png")
  [ "$got" = "${size}x$size" ] || fail "the ${size}x$size icon is $got"
done

man=$root/share/man/man1/recorder.1.gz
warnings=$(zcat "$man" | groff -man -ww -z 2>&1)
[ -z "$warnings" ] || fail "man page: $warnings"
lexgrog "$man" | grep -q 'recorder - ' || fail "man page has no NAME line for whatis"
