#!/bin/sh
# Builds Tallynet with its tests (installing missing Debian packages) and runs every test.
# Tests that need root (network namespaces) skip themselves with a message when not root.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh
(cd build && ctest --output-on-failure --timeout 600 -j2)

# The capture worker and the user interface share counters without locks: run the capture
# tests once more under ThreadSanitizer, in a build of their own.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLYNET_BUILD_UI=OFF \
    -DTALLYNET_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS=-fsanitize=thread \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build-tsan -j2 --target tallynet_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure --timeout 600 \
    -R '^(CaptureTest|PcapCaptureTest|ReplayTest)\.'
