#!/bin/sh
# Checks what a built snapreserve.exe carries: its manifest, which asks for no
# elevation, its version resource and manifest (VERSION.0), and imports from system DLLs only,
# so that the .exe runs on its own.
set -eu
exe=$1 p=$(dirname "$0")/../../packaging
fail() { echo "$exe: $*"; exit 1; }
strings "$exe" | grep -q 'requestedExecutionLevel level="asInvoker"' || fail "no asInvoker manifest"
version=$(strings -n 3 -el "$exe" | grep -x -A1 -e FileVersion -e ProductVersion | grep '^[0-9]'; sh "$p/file-version.sh" "$exe"
  sh "$p/file-version.sh" "$exe" --product; strings "$exe" | sed -n 's/.*<assemblyIdentity .* version="\([^"]*\)".*/\1/p')
[ "$(echo $version)" = "$2.0 $2.0 $2.0 $2.0 $2.0" ] || fail "version resource and manifest say $(echo $version), not $2.0"
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
[ "$dlls" = "advapi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll " ] || fail "imports $dlls"
