#!/usr/bin/env bash
# `cpack -G DEB` makes a Debian package that installs the same tree as
# `cmake --install` under /usr, owned by root, with its binary stripped and
# the dependencies no library scan finds: SDL2 and libsndfile (loaded at run
# time) and qt6-wayland.
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
debs=("$work"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb: ${debs[*]}"
deb=${debs[0]}
dpkg-deb -I "$deb" >/dev/null || fail "dpkg-deb cannot read $deb"

# Package names in a relation field, without versions or alternatives; a
# name is matched whole, as an extended regular expression.
names() { dpkg-deb -f "$deb" "$1" | tr ',|' '\n\n' | sed 's/(.*//; s/^ *//; s/ *$//'; }
has() { names "$1" | grep -qxE "$2" || fail "$1 lacks $2: $(dpkg-deb -f "$deb" "$1")"; }
[ "$(dpkg-deb -f "$deb" Package)" = recorder ] || fail "the package is not named recorder"
has Depends 'libsdl2-2\.0-0'
# Releases with a 64-bit time_t add "t64".
has Depends 'libsndfile1(t64)?'
# Found by the library scan.
has Depends 'libqt6widgets6(t64)?'
has Recommends qt6-wayland

others=$(dpkg-deb -c "$deb" | awk '$2 != "root/root" || $6 !~ /^\.\/usr\// { print $6 " " $2 }')
[ -z "$others" ] || fail "entries not owned by root or outside /usr: $others"

dpkg-deb -x "$deb" "$work/root"
"$(dirname "$0")/check_tree.sh" "$work/root/usr"
binary=$work/root/usr/bin/recorder
if readelf -S --wide "$binary" | grep -qE '\.symtab|\.debug_'; then
  fail "the packaged binary is not stripped"
fi

# The changelog's latest entry is this package's version.
zcat "$work/root/usr/share/doc/recorder/changelog.gz" >"$work/changelog"
logged=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
[ "$logged" = "$(dpkg-deb -f "$deb" Version)" ] || fail "the changelog's latest version is $logged, not the package's"
echo "ok $(basename "$deb"): depends, recommends, files, stripped binary"
