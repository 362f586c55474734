#!/bin/sh
# Live capture under the highest packet rate this machine generates: Tallynet's capture and
# then `tcpdump -i <veth> -w /dev/null`, each on 10 seconds of the same load, on a veth pair
# into a namespace of its own (198.18.137.0/24, no route out).
# Usage (as root): bench/live_capture_vs_tcpdump.sh [build-dir]
set -eu
cd "$(dirname "$0")/.."
BIN="${1:-build}/bench/bench_live_capture"
SECONDS_OF_LOAD=10
PAYLOAD=18 # 46 IP bytes, the smallest Ethernet frame
SENDERS="${SENDERS:-2}" # sending processes; one per core saturates this machine
if [ "$(id -u)" -ne 0 ]; then
    echo "needs root: creates a network namespace and a veth pair" >&2
    exit 1
fi
[ -x "$BIN" ] || { echo "build $BIN first (cmake --build build --target bench_live_capture)" >&2; exit 1; }
command -v tcpdump >/dev/null || { echo "tcpdump is missing" >&2; exit 1; }

NS="tnlive$$"
H="tnlh$$"
P="tnln$$"
OUT=$(mktemp -d)
cleanup() {
    ip link del "$H" 2>/dev/null || true
    ip netns del "$NS" 2>/dev/null || true
    rm -rf "$OUT"
}
trap cleanup EXIT HUP INT PIPE TERM

ip netns add "$NS"
ip link add "$H" address 02:00:00:00:07:01 type veth peer name "$P" address 02:00:00:00:07:02
ip link set "$P" netns "$NS"
sysctl -qw "net.ipv6.conf.$H.disable_ipv6=1"
ip addr add 198.18.137.1/24 dev "$H"
ip link set "$H" up
ip neigh replace 198.18.137.2 lladdr 02:00:00:00:07:02 nud permanent dev "$H"
ip netns exec "$NS" sysctl -qw "net.ipv6.conf.$P.disable_ipv6=1"
ip netns exec "$NS" ip addr add 198.18.137.2/24 dev "$P"
ip netns exec "$NS" ip link set "$P" up
ip netns exec "$NS" ip neigh replace 198.18.137.1 lladdr 02:00:00:00:07:01 nud permanent dev "$P"

load() {
    pids=""
    i=0
    while [ "$i" -lt "$SENDERS" ]; do
        ip netns exec "$NS" "$BIN" send 198.18.137.1 9 "$SECONDS_OF_LOAD" "$PAYLOAD" &
        pids="$pids $!"
        i=$((i + 1))
    done
    for p in $pids; do wait "$p"; done
}

echo "== Tallynet capture on $H"
"$BIN" capture "$H" $((SECONDS_OF_LOAD + 3)) >"$OUT/tallynet" &
CAPTURE=$!
sleep 1
load >"$OUT/load"
cat "$OUT/load"
wait "$CAPTURE" || exit 1
cat "$OUT/tallynet"
received=$(sed -n 's/^tallynet: IP bytes received \([0-9]*\),.*/\1/p' "$OUT/tallynet")
echo "tallynet: that is $((received / (PAYLOAD + 28))) datagrams accounted"

echo "== tcpdump -i $H -w /dev/null"
tcpdump -i "$H" -w /dev/null 2>"$OUT/tcpdump" &
DUMP=$!
sleep 1
load >"$OUT/load"
cat "$OUT/load"
sleep 2
kill -INT "$DUMP"
wait "$DUMP" || true
grep -E "packets (captured|received|dropped)" "$OUT/tcpdump"
