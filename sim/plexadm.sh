#!/bin/sh
# Simulated management tool: "pool" prints the listing kept beside it in
# pools.txt; the number in exit-status beside it, if any, is its exit status.
here=$(dirname "$0")
if [ "$1" != "pool" ]; then
  echo "usage: plexadm pool"
  exit 1
fi
[ -f "$here/pools.txt" ] && cat "$here/pools.txt"
[ -f "$here/exit-status" ] && exit "$(cat "$here/exit-status")"
exit 0
