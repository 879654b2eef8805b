#!/bin/sh
# Builds the tool, lays out a sample machine under build/, and sets a 30%
# snapshot reserve on it, showing the stored policy before and after, the
# monitor service's record and the event the run left.
#   scripts/demo.sh            the native tool on a POSIX stand-in machine
#   scripts/demo.sh --windows  the 32-bit Windows program under Wine (the 64-bit
#                              one where this machine runs no 32-bit program)
set -eu
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--windows" ]; then
  scripts/install-deps.sh build windows
  exec scripts/demo-windows.sh
fi
scripts/install-deps.sh build
# The tool and the simulated product alone: no tests, so nothing but the
# compiler and CMake is needed.
cmake -S . -B build/demo -DSNAPRESERVE_TESTS=OFF >/dev/null
cmake --build build/demo -j "$(nproc)" >/dev/null

machine="$PWD/build/sample-machine"
scripts/sample-machine.sh "$machine" build/demo/sim
policy() {
  sed -n '/\\Velmora\\2.0\\Policies\]/,/^\r*$/p' "$machine/system.reg" | tr -d '\r'
}

echo "== Policy before (in $machine/system.reg):"
policy
echo "== Pools (the listing the management tool prints):"
cat "$machine/drive_c/Program Files (x86)/Halvorn/Velmora 2.0/pools.txt"
echo "== snapreserve 30"
mkdir -p build/sample-work
status=0
(cd build/sample-work && VELMORA_ROOT="$machine" ../demo/snapreserve 30) || status=$?
echo "== Exit status: $status"
echo "== Policy after:"
policy
echo "== Monitor service record ($machine/service.log):"
cat "$machine/service.log"
echo "== The run's event in the Application log ($machine/eventlog/Application.log):"
cat "$machine/eventlog/Application.log"
