#!/bin/sh
# Runs a command on a display of its own: a new Xvfb, gone when the command ends.
# Exit code 77 (skipped) where Xvfb is not installed.
command -v Xvfb >/dev/null 2>&1 || { echo "SKIP: Xvfb is not installed"; exit 77; }
n=120
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null' EXIT
i=0
while [ ! -e "/tmp/.X11-unix/X$n" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then echo "FAIL: Xvfb did not start"; exit 1; fi
    sleep 0.1
done
DISPLAY=":$n" QT_QPA_PLATFORM=xcb "$@"
