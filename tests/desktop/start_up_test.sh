#!/usr/bin/env bash
# Quillner answers --help and --version and refuses to start without a display, all without
# opening a window or needing a display.
#   start_up_test.sh QUILLNER
set -u
quillner=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)

out=$("${no_display[@]}" "$quillner" --help 2>&1); status=$?
[ $status -eq 0 ] || fail "--help exited $status"
[[ $out == "Usage: Quillner [--home DIR]"* ]] || fail "--help printed: $out"

out=$("${no_display[@]}" "$quillner" --version 2>&1); status=$?
[ $status -eq 0 ] || fail "--version exited $status"
[[ $out =~ ^Quillner\ [0-9]+\.[0-9]+$ ]] || fail "--version printed: $out"

out=$("${no_display[@]}" "$quillner" 2>&1); status=$?
[ $status -eq 1 ] || fail "without a display it exited $status"
[ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || fail "without a display it said more than one line: $out"
[[ $out == "Quillner: no display found"* ]] || fail "without a display it said: $out"

out=$("${no_display[@]}" "$quillner" --home 2>&1); status=$?
[ $status -eq 2 ] || fail "--home without a folder exited $status"
[[ $out == *"--home needs a folder"* ]] || fail "--home without a folder said: $out"

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
out=$(QT_QPA_PLATFORM=offscreen HOME=$home "$quillner" --frobnicate 2>&1); status=$?
[ $status -eq 2 ] || fail "an unknown option exited $status"
[[ $out == *"unknown option '--frobnicate'"* ]] || fail "an unknown option said: $out"

if [ $failures -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "start-up: all passed"
