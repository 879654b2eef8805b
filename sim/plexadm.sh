#!/bin/sh
# Simulated management tool: "pool" prints the listing kept beside it in
# pools.txt; the number in exit-status beside it, if any, is its exit status,
# and the word "crash" there makes it end by a segmentation fault instead;
# "vanish" makes it move itself aside to plexadm.exe.off once it has listed.
here=$(dirname "$0")
if [ "$1" != "pool" ]; then
  echo "usage: plexadm pool"
  exit 1
fi
[ -f "$here/pools.txt" ] && cat "$here/pools.txt"
if [ -f "$here/exit-status" ]; then
  status=$(cat "$here/exit-status")
  [ "$status" = crash ] && kill -SEGV $$
  [ "$status" = vanish ] && exec mv "$0" "$0.off"
  exit "$status"
fi
exit 0
