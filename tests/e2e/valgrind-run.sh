#!/bin/sh
# One whole run of "snapreserve 30" under valgrind, on a sample stand-in
# machine: the tool's own process shows no memory error and leaks nothing.
#   valgrind-run.sh TOOL SIM_DIR SAMPLE_MACHINE_SCRIPT
set -eu
tool=$1
sim=$2
sample=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$sample" "$scratch/machine" "$sim"
mkdir "$scratch/work"
cd "$scratch/work"
VELMORA_ROOT="$scratch/machine" valgrind -q --error-exitcode=99 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect,possible "$tool" 30 > "$scratch/output"
grep -q "reserved for snapshots is 30%" "$scratch/output"
