#!/bin/sh
# As root: a copy of tallynet-capture is the only file with capabilities; tallynet runs as nobody
# with Qt's plugin variables pointing at a folder of its own. Traffic on the watched veth is
# counted, no thread of the window holds a capability, the helper holds none once capture is
# open, and the helper runs with an empty environment.
set -u
. "$(dirname "$0")/lib/common.sh"
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root: creates a network namespace, grants capabilities, becomes nobody"
    exit $E2E_SKIP
fi
for tool in ip setcap getcap setpriv; do
    command -v $tool >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit $E2E_SKIP; }
done
HELPER="$(dirname "$1")/tallynet-capture"
[ -x "$HELPER" ] || { echo "FAIL: no $HELPER"; exit 1; }
e2e_setup "$@"

ID=$(($$ % 100000))
NS="tn17e2e$ID"
HOST_IF="tn17h$ID"
PEER_IF="tn17p$ID"
E2E_EXTRA_CLEANUP="ip link del $HOST_IF 2>/dev/null; ip netns del $NS 2>/dev/null"
ip netns add "$NS" || fail "cannot create the namespace"
ip link add "$HOST_IF" type veth peer name "$PEER_IF" || fail "cannot create the veth pair"
ip link set "$PEER_IF" netns "$NS"
ip addr add 198.18.17.1/30 dev "$HOST_IF"
ip link set "$HOST_IF" up
ip route add 198.18.18.2/32 dev "$HOST_IF"
ip netns exec "$NS" ip addr add 198.18.18.2/32 dev "$PEER_IF"
ip netns exec "$NS" ip link set "$PEER_IF" up
ip netns exec "$NS" ip route add 198.18.17.1/32 dev "$PEER_IF"

# The copies: the window beside the helper, which alone gets the capabilities.
BIN="$E2E_TMP/bin"
mkdir -p "$BIN" "$E2E_TMP/plugins"
cp "$TALLYNET" "$BIN/tallynet"
cp "$HELPER" "$BIN/tallynet-capture"
# As the package installs it: the user (nobody) is a member of the helper's group.
chown root:nogroup "$BIN/tallynet-capture"
chmod 0750 "$BIN/tallynet-capture"
if ! setcap cap_net_raw,cap_net_admin,cap_setpcap+p "$BIN/tallynet-capture" 2>"$E2E_TMP/setcap.log"; then
    echo "SKIP: this file system takes no file capabilities: $(cat "$E2E_TMP/setcap.log")"
    exit $E2E_SKIP
fi
[ -z "$(getcap "$BIN/tallynet")" ] || fail "the window program has capabilities"
chmod 755 "$E2E_TMP" "$BIN"
write_settings "LastAdapterName=$HOST_IF"
chown -R nobody:nogroup "$HOME" "$XDG_RUNTIME_DIR" "$E2E_TMP/plugins"
STAT="$XDG_DATA_HOME/Tallynet/stat.dat"

setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all \
    env QT_PLUGIN_PATH="$E2E_TMP/plugins" QT_QPA_PLATFORM_PLUGIN_PATH="$E2E_TMP/plugins" \
    QT_DEBUG_PLUGINS=1 "$BIN/tallynet" >"$E2E_TMP/nobody.log" 2>&1 &
P=$!
E2E_PIDS="$E2E_PIDS $P"
wait_for_paint nobody
i=0
until H=$(pgrep -P "$P" -x tallynet-captur); do
    i=$((i + 1))
    [ $i -gt 50 ] && fail "tallynet started no capture helper"
    sleep 0.1
done
sleep 1 # the helper has answered and dropped its capabilities

# Every thread: CapPrm and CapEff all zero.
caps_of() {
    for t in /proc/"$1"/task/*; do
        awk '/^Cap(Prm|Eff):/ { printf "%s%s", sep, $2; sep = " " } END { print "" }' "$t/status"
    done | sort -u
}
[ "$(caps_of "$P")" = "0000000000000000 0000000000000000" ] ||
    fail "the window holds capabilities: $(caps_of "$P")"
[ "$(caps_of "$H")" = "0000000000000000 0000000000000000" ] ||
    fail "the helper holds capabilities: $(caps_of "$H")"
echo "window $P: CapPrm CapEff $(caps_of "$P"); helper $H: $(caps_of "$H")"
grep -q "QT_PLUGIN_PATH=$E2E_TMP/plugins" "/proc/$P/environ" ||
    fail "the window did not get the plugin variables: the test would mean nothing"
[ "$(wc -c <"/proc/$H/environ")" -eq 0 ] || fail "the helper has an environment"
[ "$(stat -c %U "/proc/$P")" = nobody ] || fail "the window does not run as nobody"

ip netns exec "$NS" bash -c '
    payload=$(printf "%01000d" 0)
    for i in $(seq 200); do printf "%s" "$payload" >/dev/udp/198.18.17.1/9; done' ||
    fail "could not send through the veth"
sleep 1.5
screenshot nobody-window
kill -TERM "$P"
wait_exit "$P"
[ "$RC" = 0 ] || fail "exit code $RC"
is_running "$H" && fail "the helper outlived the window"
[ -f "$STAT" ] || fail "no stat.dat"
day=$(date +%d | sed 's/^0//')
offset=$((4 + (day - 1) * 96 + 8))
received=0
for v in $(od -v -A n -t u8 -j "$offset" -N 88 "$STAT"); do received=$((received + v)); done
[ "$received" -ge 200000 ] || fail "today's received counters sum to $received bytes"
echo "received today: $received bytes"

# Without the capabilities the window goes on (adapter counters) and the helper is gone.
setcap -r "$BIN/tallynet-capture" || fail "cannot take the capabilities away"
setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all \
    "$BIN/tallynet" >"$E2E_TMP/uncapable.log" 2>&1 &
P=$!
E2E_PIDS="$E2E_PIDS $P"
wait_for_paint uncapable
sleep 1
grep -q "CAP_NET_RAW is missing" "$E2E_TMP/uncapable.log" || fail "the helper did not say why"
pgrep -P "$P" >/dev/null && fail "a helper without capabilities stays"
is_running "$P" || fail "the window ended without the capabilities"
screenshot nobody-without-capabilities
kill -TERM "$P"
wait_exit "$P"
[ "$RC" = 0 ] || fail "exit code $RC without the capabilities"
echo "2 passed, 0 failed"
