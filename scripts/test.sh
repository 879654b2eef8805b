#!/bin/sh
# Builds everything and runs every test: the unit tests of the logic against
# the in-memory machine, the registry file tests, the end-to-end scenarios on
# scratch stand-in machines, and the same scenarios against both Windows
# programs (32- and 64-bit, cross-built with MinGW-w64) under Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in windows-x86 windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
done
cmake -S . -B build -DSNAPRESERVE_WINDOWS_BUILDS="$PWD/build/windows-x86;$PWD/build/windows-x64"
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
