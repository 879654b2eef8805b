#!/bin/sh
# Builds everything and runs every test:
#   - the unit tests of the logic against the in-memory machine, the registry
#     file tests, the end-to-end, fault and load tests on scratch stand-in
#     machines, and one run under valgrind;
#   - the same end-to-end scenarios against both Windows programs (32- and
#     64-bit, cross-built with MinGW-w64) under Wine;
#   - the native suite again under AddressSanitizer and UndefinedBehaviorSanitizer;
#   - each libFuzzer target for a bounded time (FUZZ_SECONDS each, default 20).
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
for preset in windows-x86 windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  # The ZIP for servers: the .exe, the README and the licence, nothing else.
  cpack --preset "$preset" >/dev/null
  contents=$(cmake -E tar tf "build/$preset/snapreserve-1.5-$preset.zip" | sort | tr '\n' ' ')
  [ "$contents" = "LICENSE README.md snapreserve.exe " ] ||
    { echo "build/$preset/snapreserve-1.5-$preset.zip holds: $contents"; exit 1; }
done
cmake -S . -B build -DSNAPRESERVE_WINDOWS_BUILDS="$PWD/build/windows-x86;$PWD/build/windows-x64"
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" -E '^valgrind'

scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
