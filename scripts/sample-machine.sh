#!/bin/sh
# Lays out a stand-in Velmora machine in the directory $1 from the simulated
# product built in $2 (the build's sim folder), laid out as a current 64-bit
# server: the management tool with a two-pool listing under
# C:\Program Files (x86), the monitor service VLMRMON running from its
# program there, the NET command in C:\Windows\System32, an empty
# Application log, and a registry with release 2.1 installed.
set -eu
root=$1
sim=$2
product="$root/drive_c/Program Files (x86)/Halvorn/Velmora 2.0"
system32="$root/drive_c/Windows/System32"
rm -rf "$root"
mkdir -p "$product" "$system32" "$root/services" "$root/eventlog"
cp "$sim/plexadm.exe" "$product/plexadm.exe"
: > "$product/vlmrmon.exe"
echo RUNNING > "$root/services/VLMRMON"
cp "$sim/NET.exe" "$system32/NET.exe"
cat > "$product/pools.txt" <<'LISTING'
Pool name        Capacity(MB)  Free(MB)
---------------  ------------  --------
PoolA            20000         8000
PoolB            5000          3000
LISTING
printf '%s\r\n' \
  'REGEDIT4' \
  '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\Halvorn\Corridan\Versions]' \
  '"VLMR"="2.1.0"' \
  '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\Halvorn\Velmora\2.0]' \
  '"InstallDir"="C:\\Program Files (x86)\\Halvorn\\Velmora 2.0"' \
  '' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\Halvorn\Velmora\2.0\Policies]' \
  '"MinFreespacePerPool"=dword:00000420' \
  '' > "$root/system.reg"
