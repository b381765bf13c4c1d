#!/usr/bin/env bash
# Runs the real entry point over a stand-in window in each fault mode and
# checks what the user sees and the exit code.
set -u
probe=$1
fail=0
check() { # mode, expected output pattern, unwanted pattern
  local out rc
  out=$(ENTRY_MODE=$1 QT_QPA_PLATFORM=offscreen timeout 20 "$probe" 2>/dev/null); rc=$?
  if [ $rc -ne 0 ]; then echo "FAIL $1: exit code $rc"; fail=1; fi
  if ! grep -qzP "$2" <<<"$out"; then echo "FAIL $1: expected /$2/ in:"; echo "$out"; fail=1; fi
  if [ -n "${3:-}" ] && grep -qE "$3" <<<"$out"; then echo "FAIL $1: unexpected /$3/ in:"; echo "$out"; fail=1; fi
  [ $fail -eq 0 ] && echo "ok $1"
}
check construct-exception 'BOX:\[The window could not be built\]' 'TICK'
check construct-other 'BOX:\[\]' 'TICK'
check loop-other 'TICK 1\nBOX:\[\]' 'TICK 2'
check handler-exception 'TICK 1\nBOX:\[A handler failed\]\n(.*\n)?TICK 2\nTICK 3' 'BOX:\[\]'
check close-box 'TICK 2' 'TICK 3|BOX'
check normal 'TICK 3' 'BOX|TICK 4'
exit $fail
