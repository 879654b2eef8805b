#!/bin/sh
# Lays out a stand-in Velmora machine in the directory DIR from the simulated
# product of a build (its sim folder), laid out as a current 64-bit server:
# the management tool with a two-pool listing under C:\Program Files (x86),
# the monitor service VLMRMON running from its program there, the NET command
# in C:\Windows\System32, a folder for the Application log, and a registry with
# release 2.1 installed and the 1056 MB minimum stored.
#   scripts/sample-machine.sh DIR [SIM_DIR]
# Without SIM_DIR, the simulated product the demo built (build/demo/sim), or
# else the test build's (build/sim). A DIR that is there already is replaced
# only when it is empty or an earlier sample machine.
set -eu
# Folders and files only their owner may write: the tool stores nowhere else.
umask 022
usage() {
  echo "usage: scripts/sample-machine.sh DIR [SIM_DIR]" >&2
  echo "  lays out a sample machine in DIR from the simulated product in SIM_DIR" >&2
  echo "  (default: build/demo/sim, which scripts/demo.sh builds, or build/sim)" >&2
  exit 2
}
[ $# -ge 1 ] && [ $# -le 2 ] && [ -n "$1" ] || usage
final=${1%"${1##*[!/]}"}  # without trailing slashes: DIR.new.PID goes beside DIR, not in it
[ -n "$final" ] || usage
if [ $# -eq 2 ]; then
  sim=$2
else
  top=$(cd "$(dirname "$0")/.." && pwd)
  sim=$top/build/demo/sim
  [ -f "$sim/plexadm.exe" ] || sim=$top/build/sim
fi
for program in plexadm.exe NET.exe; do
  [ -f "$sim/$program" ] && [ -x "$sim/$program" ] || {
    echo "sample-machine.sh: no simulated product in $sim ($program is missing): run" \
      "scripts/demo.sh first, or name a build's sim folder" >&2
    exit 1
  }
done
if [ -L "$final" ]; then
  echo "sample-machine.sh: $final is a link; name a folder itself" >&2
  exit 1
elif [ -e "$final" ] && ! { [ -d "$final" ] &&
  { [ -z "$(ls -A "$final")" ] || { [ -f "$final/system.reg" ] && [ -d "$final/drive_c" ]; }; }; }; then
  echo "sample-machine.sh: $final is there and is no sample machine (no system.reg and" \
    "drive_c in it); it is left as it is" >&2
  exit 1
fi
# Made whole beside DIR, then put in its place: a failure part way leaves DIR as it was.
root=$final.new.$$
trap 'rm -rf "$root"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
product="$root/drive_c/Program Files (x86)/Halvorn/Velmora 2.0"
system32="$root/drive_c/Windows/System32"
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
rm -rf "$final"
mv "$root" "$final"
