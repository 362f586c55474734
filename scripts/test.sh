#!/bin/sh
# Builds Tallynet with its tests (installing missing Debian packages) and runs every test.
# Tests that need root (network namespaces) skip themselves with a message when not root.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh
cd build
ctest --output-on-failure --timeout 600 -j2
