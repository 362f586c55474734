#!/bin/sh
# SIGTERM, SIGINT and SIGHUP each end the program with exit code 0 and a saved 8268-byte
# stat.dat; so does the end of the desktop session (the display goes away).
set -u
. "$(dirname "$0")/lib/common.sh"
e2e_setup "$@"
STAT="$XDG_DATA_HOME/Tallynet/stat.dat"

for sig in TERM INT HUP; do
    rm -f "$STAT"
    start_tallynet "sig$sig"
    P=$LAST_PID
    wait_for_paint "sig$sig"
    kill -"$sig" "$P"
    wait_exit "$P"
    [ "$RC" = 0 ] || fail "SIG$sig: exit code $RC"
    [ -f "$STAT" ] || fail "SIG$sig: no stat.dat"
    size=$(wc -c <"$STAT")
    [ "$size" -eq 8268 ] || fail "SIG$sig: stat.dat has $size bytes"
done

rm -f "$STAT"
start_tallynet session
P=$LAST_PID
wait_for_paint session
kill "$XVFB_PID"
wait "$XVFB_PID" 2>/dev/null
XVFB_PID=""
wait_exit "$P"
[ "$RC" = 0 ] || fail "end of session: exit code $RC"
[ -f "$STAT" ] && [ "$(wc -c <"$STAT")" -eq 8268 ] || fail "end of session: no full stat.dat"
echo "1 passed, 0 failed"
