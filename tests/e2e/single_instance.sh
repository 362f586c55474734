#!/bin/sh
# The window appears; a second copy ends at once with exit code 0 and leaves the first alone;
# two copies started together leave exactly one; after the first has ended a new one starts.
# A second copy reads and writes nothing of the first one's: the settings stay byte-identical.
set -u
. "$(dirname "$0")/lib/common.sh"
e2e_setup "$@"

CONF="$XDG_CONFIG_HOME/Tallynet/Tallynet.conf"
printf '[SetariGenerale]\nPinPoint=20381711\n' >"$CONF"
start_tallynet first
FIRST=$LAST_PID
wait_for_paint first
screenshot main-window

cp -p "$CONF" "$E2E_TMP/conf.before"
timeout 10 "$TALLYNET" >"$E2E_TMP/second.log" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "second copy ended with $rc (124: it did not end)"
cmp -s "$CONF" "$E2E_TMP/conf.before" || fail "the second copy changed the settings file"
grep -q "first paint" "$E2E_TMP/second.log" && fail "the second copy showed a window"
is_running "$FIRST" || fail "the first copy did not survive the second"

kill -TERM "$FIRST"
wait_exit "$FIRST"
[ "$RC" = 0 ] || fail "first copy ended with $RC"

start_tallynet racer1
A=$LAST_PID
start_tallynet racer2
B=$LAST_PID
i=0
until grep -q "first paint" "$E2E_TMP/racer1.log" "$E2E_TMP/racer2.log" 2>/dev/null; do
    i=$((i + 1)); [ $i -gt 200 ] && fail "neither racer painted"; sleep 0.1
done
# The loser ends at its lock check, before it creates any window.
if grep -q "first paint" "$E2E_TMP/racer1.log"; then WINNER=$A; LOSER=$B; LOSER_LOG=racer2
else WINNER=$B; LOSER=$A; LOSER_LOG=racer1; fi
wait_exit "$LOSER"
[ "$RC" = 0 ] || fail "the losing racer ended with $RC"
grep -q "first paint" "$E2E_TMP/$LOSER_LOG.log" && fail "both racers showed a window"
is_running "$WINNER" || fail "the winning racer is gone"
kill -TERM "$WINNER"
wait_exit "$WINNER"
[ "$RC" = 0 ] || fail "the winning racer ended with $RC"

start_tallynet again
AGAIN=$LAST_PID
wait_for_paint again
kill -TERM "$AGAIN"
wait_exit "$AGAIN"
[ "$RC" = 0 ] || fail "the new copy ended with $RC"

# Started hidden (minimised: Xvfb has no notification area), the first copy is brought up by a
# second start (as from the menu), which still ends at once with 0 having changed nothing.
printf '[SetariGenerale]\nPinPoint=20381711\nStartMin=1\n' >"$CONF"
start_tallynet hidden
HIDDEN=$LAST_PID
i=0
until [ -S "$XDG_RUNTIME_DIR/Tallynet_Instance_Checker.sock" ]; do
    i=$((i + 1)); [ $i -gt 200 ] && fail "the hidden copy never listened"; sleep 0.1
done
cp -p "$CONF" "$E2E_TMP/conf.before"
timeout 10 "$TALLYNET" >"$E2E_TMP/raiser.log" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "the second start ended with $rc"
cmp -s "$CONF" "$E2E_TMP/conf.before" || fail "the second start changed the settings file"
i=0
until grep -q "shown for a later start, visible 1" "$E2E_TMP/hidden.log"; do
    i=$((i + 1)); [ $i -gt 200 ] && fail "the second start did not bring up the first"; sleep 0.1
done
wait_for_paint hidden
screenshot raised-by-second-start
is_running "$HIDDEN" || fail "the hidden copy did not survive the second start"
kill -TERM "$HIDDEN"
wait_exit "$HIDDEN"
[ "$RC" = 0 ] || fail "the raised copy ended with $RC"
[ -e "$XDG_RUNTIME_DIR/Tallynet_Instance_Checker.sock" ] && fail "the socket outlived its copy"
echo "1 passed, 0 failed"
