#!/usr/bin/env bash
# Runs one libFuzzer target for a fixed time from a fresh corpus seeded with
# the given files. Usage: run_fuzz.sh FUZZER SECONDS KIND
#   KIND: form  (seeds: the compiled window definition, $SEED_FORM)
#         sound (seeds: small sound files in several formats, made with sox,
#                and damaged ones written by $SEED_DAMAGED DIR when it is set)
set -eu
fuzzer=$1 seconds=$2 kind=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/seeds"
case $kind in
  form) cp "$SEED_FORM" "$work/seeds/" ;;
  sound)
    n=0
    for format in "-r 44100 -c 2 -b 16 wav" "-r 8000 -c 1 -b 8 wav" "-r 48000 -c 2 -b 24 wav" \
                "-r 44100 -c 1 -b 16 aiff" "-r 44100 -c 2 -b 16 flac" "-r 44100 -c 2 ogg" \
                "-r 44100 -c 1 -b 32 -e floating-point wav" "-r 22050 -c 1 -b 16 w64"; do
      n=$((n + 1))
      options=${format% *}
      # shellcheck disable=SC2086
      sox -n $options "$work/seeds/$n.${format##* }" synth 0.05 sine 440 2>/dev/null || true
    done
    if [ -n "${SEED_DAMAGED:-}" ]; then "$SEED_DAMAGED" "$work/seeds"; fi ;;
esac
cd "$work"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 corpus seeds
