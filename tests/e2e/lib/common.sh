# Shared by the end-to-end tests: a private home, a virtual display and helpers.
# Usage: . lib/common.sh; e2e_setup "$1" "$2"   ($1 tallynet, $2 the screenshot helper)

E2E_SKIP=77

e2e_setup() {
    TALLYNET=$1
    SCREENSHOT=${2:-}
    if ! command -v Xvfb >/dev/null 2>&1; then
        echo "SKIP: Xvfb is not installed (scripts/deps.sh test installs it)"
        exit $E2E_SKIP
    fi
    E2E_TMP=$(mktemp -d /tmp/tallynet-e2e.XXXXXX)
    export HOME="$E2E_TMP/home"
    export XDG_CONFIG_HOME="$HOME/.config"
    export XDG_DATA_HOME="$HOME/.local/share"
    export XDG_CACHE_HOME="$HOME/.cache"
    export XDG_STATE_HOME="$HOME/.local/state"
    export XDG_RUNTIME_DIR="$E2E_TMP/run"
    mkdir -p "$XDG_CONFIG_HOME/Tallynet" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER
    export QT_QPA_PLATFORM=xcb
    export TALLYNET_TRACE_STARTUP=1
    ARTIFACTS=${TALLYNET_E2E_ARTIFACTS:-$PWD/e2e-artifacts}
    mkdir -p "$ARTIFACTS"
    E2E_PIDS=""
    trap e2e_cleanup EXIT
    trap 'exit 1' INT TERM HUP PIPE # ends through the EXIT trap, so namespaces go too
    e2e_start_display
}

e2e_start_display() {
    n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    export DISPLAY=":$n"
    Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >"$E2E_TMP/xvfb.log" 2>&1 &
    XVFB_PID=$!
    i=0
    while [ ! -e "/tmp/.X11-unix/X$n" ]; do
        i=$((i + 1))
        if [ $i -gt 100 ] || ! kill -0 "$XVFB_PID" 2>/dev/null; then
            echo "FAIL: Xvfb did not start"; cat "$E2E_TMP/xvfb.log"; exit 1
        fi
        sleep 0.1
    done
}

e2e_cleanup() {
    for p in $E2E_PIDS; do kill -KILL "$p" 2>/dev/null; done
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    [ -n "${E2E_EXTRA_CLEANUP:-}" ] && eval "$E2E_EXTRA_CLEANUP"
    rm -rf "$E2E_TMP"
}

fail() {
    echo "FAIL: $*"
    for f in "$E2E_TMP"/*.log; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; }; done
    exit 1
}

# Starts the program in the background; its output goes to $E2E_TMP/<name>.log, its pid to $!.
start_tallynet() {
    name=$1
    "$TALLYNET" >"$E2E_TMP/$name.log" 2>&1 &
    LAST_PID=$!
    E2E_PIDS="$E2E_PIDS $LAST_PID"
}

# Waits (up to 20 s) until the program's log says that its window was painted.
wait_for_paint() {
    i=0
    until grep -q "first paint" "$E2E_TMP/$1.log" 2>/dev/null; do
        i=$((i + 1))
        [ $i -gt 200 ] && fail "no window painted ($1)"
        sleep 0.1
    done
}

# Waits (up to 20 s, then kills it) for a process to end; its exit code goes to RC.
wait_exit() {
    i=0
    while is_running "$1"; do
        i=$((i + 1))
        [ $i -eq 200 ] && kill -KILL "$1" 2>/dev/null
        sleep 0.1
    done
    wait "$1"
    RC=$?
}

# True while the process runs (an ended child that was not waited for does not count).
is_running() {
    [ -r "/proc/$1/stat" ] && ! grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat"
}

screenshot() {
    [ -n "$SCREENSHOT" ] && "$SCREENSHOT" "$ARTIFACTS/$1.png" && echo "screenshot: $ARTIFACTS/$1.png"
}

write_settings() {
    printf '[SetariGenerale]\n%s\n' "$*" >"$XDG_CONFIG_HOME/Tallynet/Tallynet.conf"
}
