#!/bin/bash
# Tallynet against iftop and tcpdump under full load, on a veth pair into a network namespace of
# its own (198.18.40.0/23, no route out). Cases, each run for every meter in interleaved rounds:
#   tcp    full-rate TCP (iperf3) from the namespace to our end of the pair
#   udp    a flood of the smallest datagrams (iperf3 -u -l 18, 46 IP bytes each)
#   churn  (Tallynet only) a steady UDP stream while five interfaces are added and removed
#          elsewhere on the machine every two seconds (veth pairs: ten interfaces each time)
#   small-paced, small-1, small-2  (Tallynet and tcpdump -s 64 with its default buffer)
#          64-byte frames from trafgen (netsniff-ng): paced at SMALL_RATE (default 300000pps),
#          and as fast as one and two sending threads go
# For each run: the meter's CPU (share of one core while the load ran), what it counted against
# the interface's own counters (IP bytes: the link counters less 14 bytes per frame; tcpdump and
# iftop as they can tell), and the frames its capture dropped as the meter itself reports them:
# Tallynet's last drop line in TN.log (written at exit whenever the count grew; its helper's
# capture statistics), tcpdump's "dropped by kernel" line; iftop reports none ("-"). (ss shows no
# drops for these capture sockets on current kernels.)
#
# Usage (as root): bench/load_vs_peers.sh [tallynet-binary] [rounds (3)] [seconds (10)]
# Every meter runs once per round, the rounds interleaved; the table ends with each case's
# medians and ranges over the rounds. CPU is measured in clock ticks (1/100 s): over a 10 s
# round one tick is 0.1 % of a core, so figures below a few tenths of a percent are ticks.
#   CASES="tcp udp churn" METERS="tallynet tn-noapps iftop tcpdump" to narrow a run (tn-noapps:
#   Tallynet with traffic per program off, CountApps=0, beside the default with it on; tn-hidden:
#   Tallynet started hidden, StartMin=1, whose window draws nothing); FLOOD names the datagram
#   sender (default build/bench/bench_live_capture, else iperf3 -u -l 18).
# Other work on the machine makes the CPU figures noisy: compare meters within a round.
set -eu
cd "$(dirname "$0")/.."
TALLYNET=$(readlink -f "${1:-build/tallynet}")
ROUNDS=${2:-3}
LOAD_SECONDS=${3:-10}
SMALL_RATE=${SMALL_RATE:-300000pps}
CASES=${CASES:-tcp udp churn}
FLOOD=$(readlink -m "${FLOOD:-build/bench/bench_live_capture}") # the 46-byte UDP sender
METERS=${METERS:-tallynet tn-noapps iftop tcpdump}
if [ "$(id -u)" -ne 0 ]; then
    echo "needs root: creates a network namespace and a veth pair" >&2
    exit 1
fi
for tool in iperf3 iftop tcpdump Xvfb; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: scripts/deps.sh bench" >&2; exit 1; }
done
[ -x "$TALLYNET" ] || { echo "no program at $TALLYNET" >&2; exit 1; }
case " $CASES " in
*" small-"*) command -v trafgen >/dev/null || { echo "trafgen is missing: apt-get install netsniff-ng" >&2; exit 1; } ;;
esac

ID=$(($$ % 10000))
NS="tnpeer$ID"
H="tnph$ID"
P="tnpp$ID"
HOST_IP=198.18.40.1
PEER_IP=198.18.41.2 # outside our /30: its traffic also counts in the day records
PORT=$((20000 + ID))
TMP=$(mktemp -d /tmp/tallynet-peers.XXXXXX)
PIDS=""
cleanup() {
    for p in $PIDS; do kill "$p" 2>/dev/null || true; done
    ip netns pids "$NS" 2>/dev/null | xargs -r kill -KILL 2>/dev/null || true
    for i in 1 2 3 4 5; do ip link del "tnpc$ID$i" 2>/dev/null || true; done
    ip link del "$H" 2>/dev/null || true
    ip netns del "$NS" 2>/dev/null || true
    rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

ip netns add "$NS"
ip link add "$H" address 02:00:00:00:28:01 type veth peer name "$P" address 02:00:00:00:28:02
ip link set "$P" netns "$NS"
sysctl -qw "net.ipv6.conf.$H.disable_ipv6=1"
ip addr add "$HOST_IP/30" dev "$H"
ip link set "$H" up
ip route add "$PEER_IP/32" dev "$H"
ip neigh replace "$PEER_IP" lladdr 02:00:00:00:28:02 nud permanent dev "$H"
ip netns exec "$NS" sysctl -qw "net.ipv6.conf.$P.disable_ipv6=1"
ip netns exec "$NS" ip addr add "$PEER_IP/32" dev "$P"
ip netns exec "$NS" ip link set "$P" up
ip netns exec "$NS" ip link set lo up
ip netns exec "$NS" ip route add "$HOST_IP/32" dev "$P"
ip netns exec "$NS" ip neigh replace "$HOST_IP" lladdr 02:00:00:00:28:01 nud permanent dev "$P"

iperf3 -s -B "$HOST_IP" -p "$PORT" >"$TMP/iperf3-server.log" 2>&1 &
PIDS="$PIDS $!"

n=70
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=":$n"
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
PIDS="$PIDS $!"
while [ ! -e "/tmp/.X11-unix/X$n" ]; do sleep 0.1; done
# A hidden window goes to the notification area: one is there while tn-hidden is measured.
case " $METERS " in
*" tn-hidden "*)
    command -v trayer >/dev/null || { echo "trayer is missing: scripts/deps.sh bench" >&2; exit 1; }
    DISPLAY=":$n" trayer --edge bottom --align right --widthtype pixel --width 200 \
        --heighttype pixel --height 24 >/dev/null 2>&1 &
    PIDS="$PIDS $!"
    ;;
esac
export QT_QPA_PLATFORM=xcb TALLYNET_TRACE_STARTUP=1
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER
sleep 1

TCK=$(getconf CLK_TCK)
# The meter and its children: Tallynet captures in its helper process, tallynet-capture.
cpu_ticks() {
    local t=0 p
    for p in "$1" $(pgrep -P "$1"); do
        t=$((t + $(awk '{ print $14 + $15 }' "/proc/$p/stat" 2>/dev/null || echo 0)))
    done
    echo "$t"
}
own_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
stat_of() { cat "/sys/class/net/$H/statistics/$1"; }
# IP bytes and frames through our end of the pair, both directions.
link_ip_bytes() {
    echo $(($(stat_of rx_bytes) + $(stat_of tx_bytes) - 14 * ($(stat_of rx_packets) + $(stat_of tx_packets))))
}
link_frames() { echo $(($(stat_of rx_packets) + $(stat_of tx_packets))); }
# Frames meter $1 says its capture dropped, once it has ended; "-" when it does not say.
meter_drops() {
    case $1 in
    tallynet | tn-noapps | tn-hidden)
        awk '/ Capture dropped [0-9]+ frames/ { for (i = 1; i < NF; i++) if ($i == "dropped") d = $(i + 1) }
             END { print d + 0 }' "$XDG_DATA_HOME/Tallynet/TN.log" 2>/dev/null || echo 0
        ;;
    tcpdump) awk '/packets dropped by kernel/ { d = $1 } END { print d + 0 }' "$TMP/meter.log" ;;
    *) echo - ;;
    esac
}

load() { # case
    case $1 in
    tcp) ip netns exec "$NS" iperf3 -c "$HOST_IP" -p "$PORT" -t "$LOAD_SECONDS" ;;
    udp)
        if [ -x "$FLOOD" ]; then
            # iperf3 sends one datagram per call, about 70,000 a second here; two sendmmsg
            # senders reach the rate that a core can push through the pair.
            ip netns exec "$NS" "$FLOOD" send "$HOST_IP" 9 "$LOAD_SECONDS" 18 &
            second=$!
            ip netns exec "$NS" "$FLOOD" send "$HOST_IP" 9 "$LOAD_SECONDS" 18
            wait "$second"
        else
            ip netns exec "$NS" iperf3 -c "$HOST_IP" -p "$PORT" -t "$LOAD_SECONDS" -u -l 18 -b 0
        fi
        ;;
    small-*)
        # 64 bytes on the wire: Ethernet, IPv4 (50 bytes), UDP to port 9, 22 bytes of zeros.
        cat >"$TMP/small.cfg" <<'CFG'
{ 0x02, 0x00, 0x00, 0x00, 0x28, 0x01, 0x02, 0x00, 0x00, 0x00, 0x28, 0x02, 0x08, 0x00,
  0x45, 0x00, 0x00, 0x32, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11, csumip(14, 33),
  198, 18, 41, 2, 198, 18, 40, 1,
  0x30, 0x39, 0x00, 0x09, 0x00, 0x1e, 0x00, 0x00,
  fill(0x00, 22) }
CFG
        case $1 in
        small-paced) pace="-b $SMALL_RATE" cpus=1 ;;
        small-1) pace="" cpus=1 ;;
        *) pace="" cpus=2 ;;
        esac
        # shellcheck disable=SC2086
        timeout -s INT "$LOAD_SECONDS" ip netns exec "$NS" trafgen --dev "$P" --conf "$TMP/small.cfg" \
            --cpus "$cpus" $pace || true
        ;;
    churn)
        ip netns exec "$NS" iperf3 -c "$HOST_IP" -p "$PORT" -t "$LOAD_SECONDS" -u -l 1000 -b 40M &
        sender=$!
        end=$((SECONDS + LOAD_SECONDS))
        while [ $SECONDS -lt "$end" ]; do
            for i in 1 2 3 4 5; do ip link add "tnpc$ID$i" type veth peer name "tnpq$ID$i"; done
            sleep 1
            for i in 1 2 3 4 5; do ip link del "tnpc$ID$i"; done
            sleep 1
        done
        wait "$sender"
        ;;
    esac >"$TMP/load.log" 2>&1
}

# Starts meter $1 and leaves its pid in MPID once it captures.
start_meter() {
    case $1 in
    tallynet | tn-noapps | tn-hidden)
        export HOME="$TMP/home" XDG_CONFIG_HOME="$TMP/home/.config"
        export XDG_DATA_HOME="$TMP/home/.local/share" XDG_RUNTIME_DIR="$TMP/run"
        rm -rf "$TMP/home" "$TMP/run"
        mkdir -p "$XDG_CONFIG_HOME/Tallynet" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
        chmod 700 "$XDG_RUNTIME_DIR"
        printf '[SetariGenerale]\nLastAdapterName=%s\n' "$H" >"$XDG_CONFIG_HOME/Tallynet/Tallynet.conf"
        # tn-noapps: the same program with traffic per program off.
        [ "$1" = tn-noapps ] && echo CountApps=0 >>"$XDG_CONFIG_HOME/Tallynet/Tallynet.conf"
        # tn-hidden: in the notification area, or minimised where there is none; nothing paints.
        [ "$1" = tn-hidden ] && echo StartMin=1 >>"$XDG_CONFIG_HOME/Tallynet/Tallynet.conf"
        "$TALLYNET" >"$TMP/meter.log" 2>&1 &
        MPID=$!
        i=0
        until grep -q "first paint" "$TMP/meter.log" || [ -n "$(pgrep -P "$MPID")" ] || [ $i -gt 100 ]; do
            i=$((i + 1))
            sleep 0.05
        done
        sleep 2 # the capture opens with the window
        ;;
    iftop)
        setsid iftop -i "$H" -t -n -N -P -B -L 1 -s $((LOAD_SECONDS + 4)) >"$TMP/meter.log" 2>&1 &
        MPID=$!
        sleep 1
        ;;
    tcpdump)
        # A snapshot of 64 bytes for the small frames (what the issue's figures used).
        setsid tcpdump -i "$H" -n ${SNAP:+-s "$SNAP"} -w /dev/null >"$TMP/meter.log" 2>&1 &
        MPID=$!
        sleep 1
        ;;
    esac
}

# Stops the meter and prints what it counted: "bytes N" or "frames N".
stop_meter() {
    case $1 in
    tallynet | tn-noapps | tn-hidden)
        kill -TERM "$MPID"
        wait "$MPID" || true
        # Today's day records (received, then sent): 11 counters from byte 8 of each record.
        stat="$XDG_DATA_HOME/Tallynet/stat.dat"
        day=$(date +%d | sed 's/^0//')
        total=0
        for base in 4 $((4 + 31 * 96)); do
            for v in $(od -v -A n -t u8 -j $((base + (day - 1) * 96 + 8)) -N 88 "$stat"); do
                total=$((total + v))
            done
        done
        echo "bytes $total"
        ;;
    iftop)
        # iftop looks at its clock only when a frame arrives: keep a trickle going until it ends.
        while kill -0 "$MPID" 2>/dev/null; do
            ip netns exec "$NS" bash -c "echo x >/dev/udp/$HOST_IP/9" 2>/dev/null || true
            sleep 0.3
        done
        wait "$MPID" || true
        # "Cumulative (sent/received/total):  1.23GB  4.56GB  5.79GB": three significant digits.
        awk '/^Cumulative/ { v = $NF; u = v; sub(/[0-9.]+/, "", u); sub(/[A-Za-z]+$/, "", v)
                m = u == "KB" ? 1024 : u == "MB" ? 1048576 : u == "GB" ? 1073741824 : 1
                printf "bytes %.0f\n", v * m }' "$TMP/meter.log"
        ;;
    tcpdump)
        kill -INT "$MPID"
        wait "$MPID" || true
        awk '/packets captured/ { print "frames " $1 }' "$TMP/meter.log"
        ;;
    esac
}

run() { # meter case round
    start_meter "$1"
    bytes0=$(link_ip_bytes)
    frames0=$(link_frames)
    t0=$(cpu_ticks "$MPID")
    o0=$(own_ticks "$MPID")
    s0=$(date +%s%N)
    load "$2"
    t1=$(cpu_ticks "$MPID")
    o1=$(own_ticks "$MPID")
    s1=$(date +%s%N)
    sleep 1.5 # the last reads
    bytes1=$(link_ip_bytes)
    frames1=$(link_frames)
    stop_meter "$1" >"$TMP/counted"
    drops=$(meter_drops "$1")
    counted=$(cat "$TMP/counted")
    rate=$(awk '/sender$/ { print $7 " " $8 } /^sender:/ { s += $2 } END { if (s) print s " datagrams" }' "$TMP/load.log" | tail -1)
    awk -v m="$1" -v c="$2" -v r="$3" -v t="$((t1 - t0))" -v hz="$TCK" -v ns="$((s1 - s0))" \
        -v kind="${counted% *}" -v n="${counted#* }" -v b="$((bytes1 - bytes0))" \
        -v f="$((frames1 - frames0))" -v d="$drops" -v rate="$rate" 'BEGIN {
            share = kind == "bytes" ? 100 * n / b : 100 * n / f
            if (rate == "") rate = sprintf("%.0f frames/s on the link", f / (ns / 1e9))
            printf "%-11s %-9s %5d %7.2f%%  %8.3f%% of %-6s %9s  %s\n", c, m, r,
                100 * t / hz / (ns / 1e9), share, kind == "bytes" ? "bytes" : "frames", d, rate }' |
        tee -a "$TMP/rows" 
    # SPLIT=1: the meter's own process and its children (Tallynet's capture helper) apart.
    if [ "${SPLIT:-0}" = 1 ]; then
        echo "       $1 itself $((o1 - o0)) ticks, its children $((t1 - t0 - o1 + o0)) ticks"
    fi
}

echo "load ${LOAD_SECONDS}s per run, $ROUNDS rounds, program $TALLYNET"
printf '%-11s %-9s %5s %8s  %-19s %9s  %s\n' case meter round CPU counted drops "sender rate"
: >"$TMP/rows"
for c in $CASES; do
    for r in $(seq "$ROUNDS"); do
        for m in $METERS; do
            [ "$c" = churn ] && [ "$m" != tallynet ] && continue
            case $c in small-*) [ "$m" = iftop ] && continue; SNAP=64 ;; *) SNAP="" ;; esac
            run "$m" "$c" "$r"
        done
    done
done
# Medians (and ranges) over the rounds, per case and meter; drops are summed.
echo
printf '%-11s %-9s %6s %-17s %9s %-23s %s\n' case meter rounds "CPU median" "" "counted median" "drops"
sort -k1,1 -k2,2 -s "$TMP/rows" | awk '
    function median(a, n,   i, j, t) {
        for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    function flush() {
        if (!n) return
        mc = median(cpu, n); mk = median(cnt, n)
        printf "%-11s %-9s %6d %6.2f%% (%.2f..%.2f) %8.3f%% (%.3f..%.3f) %s\n", key1, key2, n, mc,
            lo_c, hi_c, mk, lo_k, hi_k, dsum
    }
    {
        if ($1 != key1 || $2 != key2) { flush(); key1 = $1; key2 = $2; n = 0; dsum = 0 }
        n++; c = $4; sub(/%/, "", c); k = $5; sub(/%/, "", k)
        cpu[n] = c + 0; cnt[n] = k + 0
        if (n == 1 || c + 0 < lo_c) lo_c = c + 0; if (n == 1 || c + 0 > hi_c) hi_c = c + 0
        if (n == 1 || k + 0 < lo_k) lo_k = k + 0; if (n == 1 || k + 0 > hi_k) hi_k = k + 0
        dsum = $8 == "-" ? "-" : dsum + $8
    }
    END { flush() }'
