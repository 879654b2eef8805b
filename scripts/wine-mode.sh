#!/bin/sh
# Prints how the Windows programs' tests run on this machine under Wine:
#   both        the 32-bit and the 64-bit program, each its whole suite;
#   64-bit-only the 64-bit program's suite alone, with 64-bit Wine, where the
#               kernel runs no 32-bit program or SNAPRESERVE_WINE64_ONLY=1 asks
#               for it (so that the 64-bit path is proven on any machine).
# Fails, saying why, where the machine cannot tell.
set -u
status=0
"$(dirname "$0")/runs-32bit.sh" >/dev/null || status=$?
case "$status" in
  0) [ "${SNAPRESERVE_WINE64_ONLY:-0}" = 1 ] && echo 64-bit-only || echo both ;;
  1) echo 64-bit-only ;;
  *) exit 1 ;;
esac
