#!/bin/sh
# As root: with LastAdapterName naming one end of a veth pair whose other end lives in a network
# namespace, traffic sent through the veth is counted in stat.dat after SIGTERM.
set -u
. "$(dirname "$0")/lib/common.sh"
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root: creates a network namespace and a veth pair"
    exit $E2E_SKIP
fi
command -v ip >/dev/null 2>&1 || { echo "SKIP: iproute2 is not installed"; exit $E2E_SKIP; }
e2e_setup "$@"

ID=$(($$ % 100000))
NS="tn5e2e$ID"
HOST_IF="tn5h$ID"
PEER_IF="tn5p$ID"
E2E_EXTRA_CLEANUP="ip link del $HOST_IF 2>/dev/null; ip netns del $NS 2>/dev/null"
ip netns add "$NS" || fail "cannot create the namespace"
ip link add "$HOST_IF" type veth peer name "$PEER_IF" || fail "cannot create the veth pair"
ip link set "$PEER_IF" netns "$NS"
# The sender sits outside our subnet: traffic inside it only counts in the running totals,
# traffic that crosses the subnet boundary also counts in the day and month records.
ip addr add 198.18.5.1/30 dev "$HOST_IF"
ip link set "$HOST_IF" up
ip route add 198.18.6.2/32 dev "$HOST_IF"
ip netns exec "$NS" ip addr add 198.18.6.2/32 dev "$PEER_IF"
ip netns exec "$NS" ip link set "$PEER_IF" up
ip netns exec "$NS" ip route add 198.18.5.1/32 dev "$PEER_IF"

write_settings "LastAdapterName=$HOST_IF"
STAT="$XDG_DATA_HOME/Tallynet/stat.dat"
start_tallynet capture
P=$LAST_PID
wait_for_paint capture
sleep 1 # capture opens with the window; give the worker its first read

# 200 UDP datagrams of 1000 bytes from the namespace to our end of the pair (bash's /dev/udp).
ip netns exec "$NS" bash -c '
    payload=$(printf "%01000d" 0)
    for i in $(seq 200); do printf "%s" "$payload" >/dev/udp/198.18.5.1/9; done' ||
    fail "could not send through the veth"
sleep 1.5 # at most one read time-out before the frames are accounted
screenshot capture-window
kill -TERM "$P"
wait_exit "$P"
[ "$RC" = 0 ] || fail "exit code $RC"
[ -f "$STAT" ] || fail "no stat.dat"

# Today's record of days received: offset 4 + (day - 1) * 96, counters from byte 8 on.
day=$(date +%d | sed 's/^0//')
offset=$((4 + (day - 1) * 96 + 8))
received=0
for v in $(od -v -A n -t u8 -j "$offset" -N 88 "$STAT"); do received=$((received + v)); done
# 200 datagrams of 1000 bytes are at least 200000 bytes at the IP layer.
[ "$received" -ge 200000 ] || fail "today's received counters sum to $received bytes"
echo "received today: $received bytes"
echo "1 passed, 0 failed"
