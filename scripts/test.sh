#!/bin/sh
# Builds everything in build/ and runs every test: the unit tests of the logic
# against the in-memory machine, the registry file tests, and the end-to-end
# scenarios that run the built tool on scratch stand-in machines.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
