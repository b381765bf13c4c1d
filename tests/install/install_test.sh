#!/usr/bin/env bash
# `cmake --install` puts the program, its desktop entry, metainfo, icons, man
# page and changelog where a desktop and man find them.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
"$(dirname "$0")/check_tree.sh" "$prefix"
echo "ok installed program, desktop entry, metainfo, icons and man page"
