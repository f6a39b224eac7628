#!/usr/bin/env bash
# `make run` on a terminal: a new demo types Enter after each value, and Ctrl-C ends the demo
# quietly with status 0, make included. Usage: run-demo-test.sh SOURCE_DIR BIN_DIR
set -uo pipefail
src=$1
bin=$2
fail() {
  echo "FAIL: $*"
  [ -f "$tmp/typescript" ] && { echo "--- terminal:"; cat -v "$tmp/typescript"; }
  exit 1
}
for tool in Xvfb script make; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }
done

# What is under test is the demo's exit status; in a sanitizer build the toolkit's own
# libraries (D-Bus) leak a little at exit, which would turn that status into the leak checker's.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/run-demo-test.XXXXXX")
xvfb=""
script_pid=""
cleanup() {
  [ -n "$script_pid" ] && kill -TERM "$script_pid" 2>/dev/null
  [ -n "$xvfb" ] && kill -TERM "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

display=""
for n in $(seq 170 270); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    display=$n
    break
  fi
done
[ -n "$display" ] || fail "no free display number"
Xvfb ":$display" -noreset -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -S "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -S "/tmp/.X11-unix/X$display" ] || fail "Xvfb did not start"

prefs=$tmp/demo-prefs.txt
printf 'run:\n\t@%s/scripts/run-demo %s\n' "$src" "$bin" >"$tmp/Makefile"
mkfifo "$tmp/keys"
DISPLAY=":$display" DEMO_PREFS="$prefs" QT_QPA_PLATFORM=xcb \
  SHELL=/bin/sh script -qfec "make -s -f $tmp/Makefile run" "$tmp/typescript" <"$tmp/keys" >/dev/null &
script_pid=$!
exec 4>"$tmp/keys"

# Ctrl-C once the program catches it (its start-up has installed the handler).
program=""
for _ in $(seq 300); do
  program=$(pgrep -f -- "FilePreferencesFactory.file=$prefs" | head -n1)
  if [ -n "$program" ]; then
    caught=$(awk '/^SigCgt:/ {print $2}' "/proc/$program/status" 2>/dev/null)
    [ -n "$caught" ] && (( 0x$caught & 2 )) && break
  fi
  sleep 0.1
done
[ -n "$program" ] || fail "the program did not start"
grep -q 'outputTerminator=ENTER' "$prefs" || fail "the new demo's settings lack Enter: $(cat "$prefs")"
sleep 1
printf '\003' >&4

status=""
for _ in $(seq 300); do
  if ! kill -0 "$script_pid" 2>/dev/null; then
    wait "$script_pid"
    status=$?
    break
  fi
  sleep 0.1
done
script_pid=""
[ -n "$status" ] || fail "the demo did not end after Ctrl-C"
[ "$status" -eq 0 ] || fail "the demo ended with status $status"
if grep -Eqi 'interrupt|error|\*\*\*' "$tmp/typescript"; then
  fail "the demo did not end quietly"
fi
# The program read the settings and saved them on its way out, Enter still among them.
grep -q 'outputTerminator=ENTER' "$prefs" || fail "Enter was lost: $(cat "$prefs")"
grep -q 'com.varnholt.tolvane.instrument=' "$prefs" || fail "the program did not save: $(cat "$prefs")"
echo "ok"
