#!/bin/sh
# The Windows side of the demo: builds the 32-bit program (the 64-bit one
# where Wine cannot run 32-bit programs here) and the simulated
# product with MinGW-w64, prepares a Wine prefix under build/ with VLMRMON as
# a running service and release 2.1 in the registry, and runs
# "snapreserve.exe 30" there from cmd.exe.
set -eu
cd "$(dirname "$0")/.."
preset=windows-x86
wine=wine
mode=$(scripts/wine-mode.sh)
if [ "$mode" != both ]; then
  echo "== This machine runs no 32-bit program under Wine: the 64-bit Windows program instead."
  preset=windows-x64
  wine=/usr/lib/wine/wine64
  export WINE="$wine" WINELOADER="$wine"
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" >/dev/null

prefix="$PWD/build/sample-wine-prefix-$preset"
tests/wine/prepare-prefix.sh "$prefix" "build/$preset/sim"
export WINEPREFIX="$prefix" WINEDEBUG=-all
drive="$prefix/drive_c"
product="$drive/Program Files/Halvorn/Velmora 2.0"
mkdir -p "$drive/Tools" "$drive/Users/Public/Work"
cp "build/$preset/snapreserve.exe" "$drive/Tools/"
printf '%s\n' \
  'Pool name        Capacity(MB)  Free(MB)' \
  '---------------  ------------  --------' \
  'PoolA            20000         8000' \
  'PoolB            5000          3000' > "$product/pools.txt"
printf '%s\r\n' \
  'Windows Registry Editor Version 5.00' '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\Halvorn\Corridan\Versions]' \
  '"VLMR"="2.1.0"' '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\Halvorn\Velmora\2.0\Policies]' \
  '"MinFreespacePerPool"=dword:00000420' '' |
  iconv -f UTF-8 -t UTF-16 > "$drive/sample.reg"
"$wine" reg import 'C:\sample.reg' /reg:32 >/dev/null 2>&1
: > "$product/service.log"
policy() {
  "$wine" reg query 'HKLM\SOFTWARE\Halvorn\Velmora\2.0\Policies' /reg:32 | tr -d '\r'
}

echo "== Policy before (32-bit registry view of $prefix):"
policy
echo "== Pools (the listing the management tool prints):"
cat "$product/pools.txt"
echo "== C:\\Users\\Public\\Work> C:\\Tools\\snapreserve.exe 30"
"$wine" cmd /c 'cd /d C:\Users\Public\Work && C:\Tools\snapreserve.exe 30 & call echo == Exit status: %^ERRORLEVEL%' | tr -d '\r'
echo "== Policy after:"
policy
echo "== Monitor service record ($product/service.log):"
cat "$product/service.log"
tests/wine/prepare-prefix.sh --stop "$prefix"
