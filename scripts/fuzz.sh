#!/bin/sh
# Builds the libFuzzer targets with clang (the "fuzz" preset) and runs each
# for SECONDS (default 20) on its checked-in seeds, keeping what it finds in
# build-fuzz/corpus/. A crash stops the run, with the input in build-fuzz/.
#   scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-20}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
for target in pool_listing reg_file command_line; do
  mkdir -p "build-fuzz/corpus/$target"
  echo "== $target: $seconds s"
  build-fuzz/fuzz/${target}_fuzzer -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build-fuzz/ "build-fuzz/corpus/$target" "fuzz/corpus/$target" 2>&1 |
    grep -E '^(stat::number_of_executed_units|==|SUMMARY|artifact_prefix|Test unit)' || true
  [ "$(ls build-fuzz/crash-* build-fuzz/leak-* build-fuzz/timeout-* 2>/dev/null)" = "" ] ||
    { echo "$target found a failing input"; exit 1; }
done
