#!/bin/sh
# Builds the libFuzzer targets with clang (the "fuzz" preset) and runs each
# for SECONDS (default 20) on its checked-in seeds, keeping what it finds in
# build-fuzz/corpus/. A fuzzer that stops with a failure (a crash, a leak, a
# timeout, running out of memory) or never starts stops the run; its input is
# in build-fuzz/ and its whole output in build-fuzz/<target>.log.
#   scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-20}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
for target in pool_listing reg_file command_line; do
  mkdir -p "build-fuzz/corpus/$target"
  echo "== $target: $seconds s"
  log="build-fuzz/$target.log"
  # The output goes to a log, not through a pipe, so that the fuzzer's own
  # exit status is the one tested.
  status=0
  build-fuzz/fuzz/${target}_fuzzer -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build-fuzz/ "build-fuzz/corpus/$target" "fuzz/corpus/$target" \
    >"$log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|==|SUMMARY|artifact_prefix|Test unit)' "$log" || true
  [ "$status" -eq 0 ] ||
    { tail -n 5 "$log"; echo "$target stopped with status $status; its output is in $log"; exit 1; }
  [ "$(ls build-fuzz/crash-* build-fuzz/leak-* build-fuzz/timeout-* build-fuzz/oom-* 2>/dev/null)" = "" ] ||
    { echo "$target found a failing input"; exit 1; }
done
