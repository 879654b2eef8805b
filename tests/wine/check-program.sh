#!/bin/sh
# Checks what a built snapreserve.exe carries: its manifest, which asks for no
# elevation, its version resource (1.5), and imports from system DLLs only,
# so that the .exe runs on its own.
set -eu
exe=$1
fail() { echo "$exe: $*"; exit 1; }
strings "$exe" | grep -q 'requestedExecutionLevel level="asInvoker"' || fail "no asInvoker manifest"
version=$(strings -n 3 -el "$exe" | grep -x -A1 FileVersion | tail -n 1)
[ "$version" = "1.5" ] || fail "version resource says '$version', not 1.5"
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
[ "$dlls" = "advapi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll " ] || fail "imports $dlls"
