#!/bin/sh
# Installs the Debian packages Tallynet needs, and only those that are missing.
# Usage: scripts/deps.sh build|run|test|bench|fuzz
set -eu

common="build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev libxcb1-dev libxcb-shm0-dev libpcap-dev \
libnl-3-dev libnl-route-3-dev libseccomp-dev libudev-dev libsystemd-dev librsvg2-bin"
case "${1:-build}" in
    build) wanted="$common" ;;
    run)   wanted="$common udev libcap2-bin" ;;
    test)  wanted="$common libgtest-dev libbenchmark-dev xvfb xauth iproute2 procps libcap2-bin fonts-dejavu-core \
desktop-file-utils appstream lintian dpkg-dev groff-base clang-14 libclang-rt-14-dev" ;;
    bench) wanted="$common libbenchmark-dev xvfb xauth iproute2 procps fonts-dejavu-core trayer" ;;
    fuzz)  wanted="$common clang-14 libclang-rt-14-dev" ;;
    *) echo "usage: $0 build|run|test|bench|fuzz" >&2; exit 2 ;;
esac

missing=""
for p in $wanted; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# Another apt (an update notifier, unattended upgrades) may hold the package manager's lock for a
# while: wait for it, five minutes at most, instead of failing at once. Older apt waits only for
# the dpkg lock, not for the lists' lock of an update, so the update is tried again too.
wait_s=300
err=$(mktemp)
tries=0
until $SUDO apt-get -o DPkg::Lock::Timeout=$wait_s update -qq 2>"$err"; do
    if ! grep -qi "lock" "$err" || [ $tries -ge $((wait_s / 10)) ]; then
        cat "$err" >&2; rm -f "$err"; exit 1
    fi
    echo "Waiting for another package manager to finish..." >&2
    tries=$((tries + 1))
    sleep 10
done
rm -f "$err"
# shellcheck disable=SC2086
$SUDO apt-get -o DPkg::Lock::Timeout=$wait_s install -y -qq --no-install-recommends $missing
