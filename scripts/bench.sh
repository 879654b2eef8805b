#!/bin/sh
# Speed and memory of the tool, measured, never timed as a test:
#   1. Google Benchmark: the listing parser at 10, 10,000 and 1,000,000 pools;
#   2. a 1,000,000-pool listing file through the parser, beside wc -l and a
#      mawk script that computes the same two figures (goal: 5 times mawk);
#   3. peak resident size of a whole run on that listing and on a 2-pool one
#      (goal: within 1 MiB);
#   4. instructions of the tool's own process for a whole run, beside a
#      minimal C++ program that prints one wide line (goal: below twice);
#   5. a large registry (bench/registry_export.py: a 60,000-key UTF-16 export,
#      about 35 MB): --check 30 and a request against it, beside a naive
#      Python parse of the same file into dictionaries (goals: the check at
#      most half the parse's time, a request at most twice it, and the peak
#      resident size at most twice the file's size).
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" >/dev/null
bin=build-bench
work=$bin/measure
rm -rf "$work"
mkdir -p "$work"

echo "== 1. Parser, from memory"
$bin/bench/pool_listing_bench --benchmark_min_time=0.5

listing=$work/pools-1m.txt
mawk 'BEGIN {
  print "Pool name        Capacity(MB)  Free(MB)"
  print "---------------  ------------  --------"
  for (i = 0; i < 1000000; i++) printf "Pool%d        %d         %d\n", i, 20000 + i % 5000, 8000 + i % 3000
}' > "$listing"
bytes=$(wc -c < "$listing")

# The same two figures in mawk: smallest free share, and the reserve that 30%
# gives on the smallest pool.
figures_awk='BEGIN { share = 100; smallest = 2147483647 }
NR > 2 { sub(/\r$/, ""); if ($0 == "") next
  cap = $2 + 0; free = $3 + 0; s = cap == 0 ? 0 : int(free * 100 / cap)
  if (s < share) share = s; if (cap < smallest) smallest = cap }
END { print share, int(smallest * 30 / 100) }'

# Best of five wall-clock runs, in nanoseconds.
best() {
  best_ns=""
  for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    "$@" > /dev/null
    ns=$(( $(date +%s%N) - start ))
    if [ -z "$best_ns" ] || [ "$ns" -lt "$best_ns" ]; then best_ns=$ns; fi
  done
  echo "$best_ns"
}
rate() { echo "$bytes $1" | mawk '{ printf "%.0f MB/s", $1 / ($2 / 1e9) / 1e6 }'; }

echo
echo "== 2. A 1,000,000-pool listing file ($bytes bytes), best of 5"
parser_ns=$(best $bin/bench/listing_figures "$listing" 30)
wc_ns=$(best wc -l "$listing")
mawk_ns=$(best mawk "$figures_awk" "$listing")
echo "parser (listing_figures): $(rate "$parser_ns")   figures: $($bin/bench/listing_figures "$listing" 30)"
echo "wc -l:                    $(rate "$wc_ns")"
echo "mawk, same figures:       $(rate "$mawk_ns")   figures: $(mawk "$figures_awk" "$listing")"
echo "$mawk_ns $parser_ns" | mawk '{ printf "parser / mawk throughput: %.1fx (goal: at least 5x)\n", $1 / $2 }'

echo
echo "== 3. Peak resident size of a whole run of snapreserve 30"
peak() {
  machine=$work/machine-$1
  scripts/sample-machine.sh "$machine" "$bin/sim"
  cp "$2" "$machine/drive_c/Program Files (x86)/Halvorn/Velmora 2.0/pools.txt"
  mkdir -p "$work/run-$1"
  (cd "$work/run-$1" && VELMORA_ROOT="$PWD/../machine-$1" ../../bench/peak_rss ../../snapreserve 30 2>/dev/null |
    tail -n 1)
}
printf '%s\n' 'Pool name        Capacity(MB)  Free(MB)' '---------------  ------------  --------' \
  'PoolA            20000         8000' 'PoolB            5000          3000' > "$work/pools-2.txt"
# The tool prints the first listing on its own output; peak_rss prints last.
small=$(peak 2 "$work/pools-2.txt")
large=$(peak 1m "$listing")
echo "2 pools:         $small KiB"
echo "1,000,000 pools: $large KiB"
echo "difference:      $((large - small)) KiB (goal: within 1024)"

echo
echo "== 4. Instructions of the tool's own process (callgrind), children not counted"
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    mawk '/Collected :/ { print $NF }'
}
tool_ir=$(cd "$work/run-2" && VELMORA_ROOT="$PWD/../machine-2" instructions ../../snapreserve 30)
line_ir=$(instructions $bin/bench/one_wide_line)
echo "snapreserve 30, whole run:         $tool_ir"
echo "minimal C++ program, one wide line: $line_ir"
echo "$tool_ir $line_ir" | mawk '{ printf "ratio: %.2f (goal: below 2)\n", $1 / $2 }'

echo
echo "== 5. A large registry, beside a naive Python parse of it, best of 5"
registry=$work/registry.reg
python3 bench/registry_export.py generate "$registry"
registry_bytes=$(wc -c < "$registry")
scripts/sample-machine.sh "$work/machine-registry" "$bin/sim"
cp "$registry" "$work/machine-registry/system.reg"
mkdir -p "$work/run-registry"
on_registry() {
  (cd "$work/run-registry" && export VELMORA_ROOT="$PWD/../machine-registry" && "$@")
}
python_ns=$(for _ in 1 2 3 4 5; do python3 bench/registry_export.py parse "$registry"; done |
  mawk 'NR == 1 || $1 < low { low = $1 } END { printf "%.0f", low * 1e9 }')
# The check first: once a request has stored 30%, the check would say 8.
check_ns=$(on_registry best ../../snapreserve --check 30)
check_kib=$(on_registry ../../bench/peak_rss ../../snapreserve --check 30 | tail -n 1)
request_ns=$(on_registry best ../../snapreserve 30)
request_kib=$(on_registry ../../bench/peak_rss ../../snapreserve 30 2>/dev/null | tail -n 1)
ms() { echo "$1" | mawk '{ printf "%.0f ms", $1 / 1e6 }'; }
echo "file:                           $registry_bytes bytes, 60,000 keys, UTF-16"
echo "Python, into dictionaries:      $(ms "$python_ns") (the parse alone, timed inside Python)"
echo "$check_ns $python_ns" | mawk '{ printf "snapreserve --check 30:         %.0f ms, %.2f x the parse (goal: at most 0.5)\n", $1 / 1e6, $1 / $2 }'
echo "$request_ns $python_ns" | mawk '{ printf "snapreserve 30:                 %.0f ms, %.2f x the parse (goal: at most 2)\n", $1 / 1e6, $1 / $2 }'
echo "$check_kib $request_kib $registry_bytes" |
  mawk '{ printf "peak resident size:             check %d KiB, request %d KiB, %.2f x the file (goal: at most 2)\n", $1, $2, ($1 > $2 ? $1 : $2) * 1024 / $3 }'
