#!/bin/sh
# Builds Tallynet (installing missing Debian packages) and starts it on the current desktop.
set -eu
cd "$(dirname "$0")/.."

# Before anything is installed or built: without a display there is nothing to start it on.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Tallynet is a desktop program and no display was found (DISPLAY and WAYLAND_DISPLAY" >&2
    echo "are empty). Run this command from a terminal of your desktop session, or start a" >&2
    echo "virtual display first: Xvfb :99 & DISPLAY=:99 scripts/run.sh" >&2
    exit 1
fi
scripts/deps.sh run
scripts/build.sh

# Packet capture needs CAP_NET_RAW (and CAP_NET_ADMIN for promiscuous mode). Only the small
# capture helper gets them, as file capabilities; the window program never holds any. A helper
# built by hand serves the user who built it alone: it is theirs, and nobody else may run it.
if [ "$(id -u)" -ne 0 ]; then
    helper=build/tallynet-capture
    if ! getcap "$helper" 2>/dev/null | grep -q cap_net_raw ||
        [ "$(stat -c '%u %a' "$helper")" != "$(id -u) 700" ]; then
        echo "Granting capture privileges to $helper, for $(id -un) alone (sudo setcap)..."
        # The owner first: changing it takes the capabilities away.
        sudo chown "$(id -u):$(id -g)" "$helper" && sudo chmod 0700 "$helper" &&
            sudo setcap cap_net_raw,cap_net_admin,cap_setpcap+p "$helper" ||
            echo "Could not grant capture privileges: Tallynet will run on interface counters only."
    fi
fi

exec build/tallynet
