#!/bin/sh
# Prepares the Wine prefix $1 that the Windows end-to-end tests run in, from
# the simulated product built for Windows in $2:
#   - C:\WINNT is Wine's Windows folder, so C:\WINNT\System32\cmd.exe and
#     NET.exe are the system's own programs (the scenarios of a current
#     server remove it, and put the tool under C:\Program Files (x86));
#   - the management tool sits at its fixed path, and the monitor VLMRMON is
#     a real service, registered with sc and running.
# A persistent wineserver keeps the service up between test processes;
# "prepare-prefix.sh --stop PREFIX" ends it. $WINE is the Wine loader to use
# (default wine; /usr/lib/wine/wine64 for 64-bit Wine alone).
set -eu
wine=${WINE:-wine}
[ -z "${WINE:-}" ] || export WINELOADER="$WINE"
if [ "$1" = "--stop" ]; then
  WINEPREFIX=$2 wineserver -k >/dev/null 2>&1 || true
  exit 0
fi
prefix=$1
sim=$2
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
log="$prefix.log"
: > "$log"
# Nothing started here may hold the caller's output open after this script.
exec </dev/null >>"$log" 2>&1

wineserver -k || true
if [ ! -f "$prefix/system.reg" ]; then
  rm -rf "$prefix"
  "$wine" wineboot -i
  wineserver -w
fi
wineserver -p
product="$prefix/drive_c/Program Files/Halvorn/Velmora 2.0"
ln -sfn windows "$prefix/drive_c/WINNT"
mkdir -p "$product"
"$wine" net stop VLMRMON || true
cp "$sim/plexadm.exe" "$sim/vlmrmon.exe" "$product/"
mkdir -p "$prefix/drive_c/Tools"
cp "$sim/lockkey.exe" "$prefix/drive_c/Tools/"
"$wine" sc query VLMRMON ||
  "$wine" sc create VLMRMON binPath= "C:\\Program Files\\Halvorn\\Velmora 2.0\\vlmrmon.exe" \
    DisplayName= VLMRMON
# The service database stays locked while Wine finishes starting up.
tries=0
until "$wine" net start VLMRMON; do
  tries=$((tries + 1))
  [ "$tries" -lt 30 ] || exit 1
  sleep 1
done
