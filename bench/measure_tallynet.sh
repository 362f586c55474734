#!/bin/sh
# Measures the real program under Xvfb: CPU time over 60 s with the window shown and with it
# hidden in the tray, peak resident memory, and the time from launch to the first painted window.
#
#   scripts/deps.sh bench && scripts/build.sh && bench/measure_tallynet.sh [build/tallynet] [seconds]
#   STARTS=10 adds the median time to the first paint over ten starts; APPS_OFF=1 measures
#   both again with traffic per program off; SMAPS=1 lists the largest mappings by PSS;
#   THREADS=1 lists each thread's processor time and wake-ups; BURST=1 (as root) then sends a
#   burst of small datagrams and gives the PSS again 40 s later, at rest after a load.
#
# As root the program watches one end of a veth pair that carries about 20 datagrams a second
# from a network namespace (198.18.0.0/15, no route out); otherwise it watches the adapter it
# proposes. A notification area (trayer) runs on the virtual display when it is installed.
set -eu
TALLYNET=$(readlink -f "${1:-build/tallynet}")
SECONDS_MEASURED=${2:-60}
command -v Xvfb >/dev/null || { echo "Xvfb is missing: scripts/deps.sh bench" >&2; exit 1; }

TMP=$(mktemp -d /tmp/tallynet-bench.XXXXXX)
export HOME="$TMP/home" XDG_CONFIG_HOME="$TMP/home/.config" XDG_DATA_HOME="$TMP/home/.local/share"
export XDG_RUNTIME_DIR="$TMP/run" QT_QPA_PLATFORM=xcb TALLYNET_TRACE_STARTUP=1
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER
mkdir -p "$XDG_CONFIG_HOME/Tallynet" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
PIDS=""
NS=""
cleanup() {
    for p in $PIDS; do kill "$p" 2>/dev/null || true; done
    # The traffic loop holds the namespace: end it before the namespace goes.
    [ -n "$NS" ] && { ip netns pids "$NS" 2>/dev/null | xargs -r kill -KILL 2>/dev/null || true; }
    if [ -n "$NS" ]; then ip link del "$HOST_IF" 2>/dev/null || true; ip netns del "$NS" 2>/dev/null || true; fi
    rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

n=80
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=":$n"
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
PIDS="$PIDS $!"
while [ ! -e "/tmp/.X11-unix/X$n" ]; do sleep 0.1; done
if command -v trayer >/dev/null; then
    trayer --edge bottom --align right --widthtype pixel --width 200 --heighttype pixel \
        --height 24 >/dev/null 2>&1 &
    PIDS="$PIDS $!"
    sleep 1
    echo "notification area: trayer"
else
    echo "notification area: none (hidden means minimised)"
fi

ADAPTER_SETTING=""
if [ "$(id -u)" -eq 0 ] && command -v ip >/dev/null; then
    NS="tnbench$$"
    HOST_IF="tnbh$(($$ % 100000))"
    ip netns add "$NS"
    ip link add "$HOST_IF" type veth peer name tnbpeer netns "$NS"
    ip addr add 198.18.7.1/30 dev "$HOST_IF" && ip link set "$HOST_IF" up
    ip netns exec "$NS" ip addr add 198.18.7.2/30 dev tnbpeer
    ip netns exec "$NS" ip link set tnbpeer up
    ip netns exec "$NS" bash -c 'end=$((SECONDS + '"$((2 * SECONDS_MEASURED + 60))"'))
        while [ $SECONDS -lt $end ]; do
            printf "%01200d" 0 >/dev/udp/198.18.7.1/9; sleep 0.05
        done' >/dev/null 2>&1 &
    PIDS="$PIDS $!"
    ADAPTER_SETTING="LastAdapterName=$HOST_IF"
    echo "adapter: $HOST_IF, about 20 datagrams of 1200 bytes a second"
else
    echo "adapter: the proposed one (run as root for a veth with steady traffic)"
fi

TCK=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# The capture helper, tallynet-capture, is the window's child.
helper_ticks() {
    t=0
    for c in $(pgrep -P "$1"); do t=$((t + $(cpu_ticks "$c" 2>/dev/null || echo 0))); done
    echo "$t"
}
# Every thread of the window and its helper: name, nanoseconds on a processor (the scheduler's
# own account, not sampled by ticks), context switches (wake-ups).
thread_snapshot() {
    for p in "$1" $(pgrep -P "$1"); do
        for t in /proc/"$p"/task/*; do
            printf '%s/%s#%s %s %s\n' "$(cat "/proc/$p/comm")" "$(tr ' ' _ <"$t/comm")" "${t##*/}" \
                "$(cut -d' ' -f1 "$t/schedstat")" \
                "$(awk '/ctxt_switches/ { n += $2 } END { print n }' "$t/status")"
        done 2>/dev/null
    done
}
# Processor time of two snapshots: the total, in % of one core, and with THREADS=1 each thread.
thread_report() { # before, after, seconds, label
    awk -v s="$3" -v n="$4" -v each="${THREADS:-0}" 'NR == FNR { ns[$1] = $2; sw[$1] = $3; next }
        { d = $2 - ns[$1]; t += d
          if (each == 1) printf "    %-34s %7.3f ms/s %6.1f wake-ups/s\n", $1, d / 1e6 / s, ($3 - sw[$1]) / s }
        END { printf "%-7s with its helper CPU %.4f %% of one core by the scheduler'"'"'s account\n", n, t / 1e7 / s }' "$1" "$2"
}
# Proportional set size (kB) of the window and its helper together.
pss_kb() {
    t=0
    for p in "$1" $(pgrep -P "$1"); do
        t=$((t + $(awk '/^Pss:/ { print $2 }' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)))
    done
    echo "$t"
}

# SMAPS=1: where the proportional set size is, by mapping, largest first.
pss_by_mapping() {
    for p in "$1" $(pgrep -P "$1"); do
        echo "  $(cat "/proc/$p/comm"):"
        awk '/^[0-9a-f]+-[0-9a-f]+ / { name = (NF >= 6 ? $6 : "[anonymous]") }
             /^Pss:/ { pss[name] += $2 }
             END { for (n in pss) if (pss[n] >= 256) printf "    %8.1f MB  %s\n", pss[n] / 1024, n }' \
            "/proc/$p/smaps" | sort -rn | head -15
    done
}

measure() { # name, extra setting
    printf '[SetariGenerale]\n%s\n%s\n' "$ADAPTER_SETTING" "$2" >"$XDG_CONFIG_HOME/Tallynet/Tallynet.conf"
    start_ms=$(date +%s%3N)
    "$TALLYNET" >"$TMP/$1.log" 2>&1 &
    pid=$!
    PIDS="$PIDS $pid"
    i=0
    until grep -q "first paint" "$TMP/$1.log" 2>/dev/null || [ $i -gt 100 ]; do i=$((i + 1)); sleep 0.05; done
    paint=$(sed -n 's/.*first paint at \([0-9]*\) ms.*/\1/p' "$TMP/$1.log" | head -1)
    sleep 3 # start-up settles
    t0=$(cpu_ticks "$pid")
    h0=$(helper_ticks "$pid")
    thread_snapshot "$pid" >"$TMP/threads0"
    sleep "$SECONDS_MEASURED"
    thread_snapshot "$pid" >"$TMP/threads1"
    t1=$(cpu_ticks "$pid")
    h1=$(helper_ticks "$pid")
    hwm=$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status")
    pss=$(pss_kb "$pid")
    [ "${SMAPS:-0}" = 1 ] && pss_by_mapping "$pid"
    after_burst=""
    if [ "${BURST:-0}" = 1 ] && [ -n "$NS" ]; then
        # About 100,000 datagrams of 64 bytes as fast as one shell sends them; then rest.
        ip netns exec "$NS" bash -c 'exec 3>/dev/udp/198.18.7.1/9
            for i in $(seq 100000); do printf "%064d" 0 >&3; done' >/dev/null 2>&1 || true
        sleep 40
        after_burst=$(pss_kb "$pid")
    fi
    kill -TERM "$pid"
    wait "$pid" || true
    awk -v t="$((t1 - t0))" -v hz="$TCK" -v s="$SECONDS_MEASURED" -v n="$1" -v kb="$hwm" \
        'BEGIN { printf "%-7s CPU %.3f %% of one core over %d s (%d ticks), peak RSS %.1f MB\n",
                 n, 100 * t / hz / s, s, t, kb / 1024 }'
    # One tick is 1/CLK_TCK s: over 60 s one tick is 0.017 % of a core.
    awk -v t="$((t1 - t0 + h1 - h0))" -v h="$((h1 - h0))" -v hz="$TCK" -v s="$SECONDS_MEASURED" \
        -v n="$1" -v pss="$pss" 'BEGIN { printf "%-7s with its helper CPU %.3f %% (helper %d ticks), PSS of both %.1f MB\n",
                 n, 100 * t / hz / s, h, pss / 1024 }'
    thread_report "$TMP/threads0" "$TMP/threads1" "$SECONDS_MEASURED" "$1"
    [ -n "$after_burst" ] && awk -v n="$1" -v kb="$after_burst" \
        'BEGIN { printf "%-7s PSS of both 40 s after a burst of 100,000 datagrams %.1f MB\n", n, kb / 1024 }'
    if [ -n "$paint" ]; then
        echo "$1: launch to first paint $((paint - start_ms)) ms"
    else
        echo "$1: no window painted"
    fi
}

measure shown ""
measure hidden "StartMin=1"
# APPS_OFF=1: the same with traffic per program off, for the cost of counting per program.
if [ "${APPS_OFF:-0}" = 1 ]; then
    measure shown-off "CountApps=0"
    measure hidden-off "StartMin=1
CountApps=0"
fi

# STARTS=N: the median of N starts from launch to the first painted window (nothing else).
if [ "${STARTS:-0}" -gt 0 ]; then
    printf '[SetariGenerale]\n%s\n' "$ADAPTER_SETTING" >"$XDG_CONFIG_HOME/Tallynet/Tallynet.conf"
    for i in $(seq "$STARTS"); do
        # The shell opens the log only once the start runs: the last start's must be gone.
        rm -f "$TMP/start.log"
        start_ms=$(date +%s%3N)
        "$TALLYNET" >"$TMP/start.log" 2>&1 &
        pid=$!
        j=0
        until grep -q "first paint" "$TMP/start.log" 2>/dev/null || [ $j -gt 100 ]; do j=$((j + 1)); sleep 0.02; done
        paint=$(sed -n 's/.*first paint at \([0-9]*\) ms.*/\1/p' "$TMP/start.log" | head -1)
        kill -TERM "$pid"
        wait "$pid" || true
        [ -n "$paint" ] && echo $((paint - start_ms))
    done | sort -n | awk '{ v[NR] = $1 } END { if (NR) printf "first paint: median %d ms of %d starts (%d .. %d)\n",
        NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2, NR, v[1], v[NR] }'
fi
