#!/bin/sh
# Builds the tool, lays out a sample machine under build/, and sets a 30%
# snapshot reserve on it, showing the stored policy before and after and the
# monitor service's record.
#   scripts/demo.sh            the native tool on a POSIX stand-in machine
#   scripts/demo.sh --windows  the 32-bit Windows program under Wine
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if [ "${1:-}" = "--windows" ]; then
  exec scripts/demo-windows.sh
fi
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" >/dev/null

machine="$PWD/build/sample-machine"
scripts/sample-machine.sh "$machine" build/sim
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
(cd build/sample-work && VELMORA_ROOT="$machine" ../snapreserve 30) || status=$?
echo "== Exit status: $status"
echo "== Policy after:"
policy
echo "== Monitor service record ($machine/service.log):"
cat "$machine/service.log"
