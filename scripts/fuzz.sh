#!/bin/sh
# Builds the libFuzzer targets and runs each for the given number of seconds (default 60),
# one after the other; new inputs go to build-fuzz/found/<target>, the seeds stay as they are.
# Stops at the first target that finds a crash (its input is left in build-fuzz/artifacts).
# Usage: scripts/fuzz.sh [SECONDS] [target...]
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets="${*:-fuzz_apps_file fuzz_frame_handler fuzz_frame_ring fuzz_hour_file fuzz_icmp_reply fuzz_outage_file \
fuzz_outage_list fuzz_settings_ini fuzz_stat_file}"

scripts/deps.sh fuzz
CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTALLYNET_BUILD_FUZZ=ON -DTALLYNET_BUILD_UI=OFF -DTALLYNET_BUILD_TESTS=OFF \
    -DTALLYNET_BUILD_BENCH=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build build-fuzz -j2 --target $targets

mkdir -p build-fuzz/artifacts
for t in $targets; do
    # A frame needs at most a few dozen bytes: short inputs with a few frames each explore more
    # per second than long ones. stat.dat needs room for a whole version-1 file.
    case "$t" in
        fuzz_frame_handler) extra="-max_len=512" ;;
        fuzz_stat_file) extra="-max_len=12288" ;;
        fuzz_apps_file) extra="-max_len=8192" ;;
        fuzz_hour_file) extra="-max_len=9216" ;; # one whole hours.dat
        fuzz_frame_ring) extra="-max_len=4096" ;; # a few dozen records
        *) extra="" ;;
    esac
    mkdir -p "build-fuzz/found/$t"
    rm -f "build-fuzz/artifacts/$t-"*
    echo "== $t: $seconds s"
    # shellcheck disable=SC2086
    "build-fuzz/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/artifacts/$t-" $extra \
        "build-fuzz/found/$t" "fuzz/corpus/$t" 2>&1 | grep -v '^#[0-9]*.*\(NEW\|REDUCE\|pulse\)' || true
    # The pipeline hides the fuzzer's exit status: a crash leaves an artifact behind.
    if ls "build-fuzz/artifacts/$t-"* >/dev/null 2>&1; then
        echo "$t found a crash:" build-fuzz/artifacts/"$t"-* >&2
        exit 1
    fi
done
