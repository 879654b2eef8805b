#!/bin/sh
# Checks what a built snapreserve.exe carries: its manifest, which asks for no
# elevation, its version resource and manifest version (VERSION.0, numbers and
# texts alike), and imports from system DLLs only, so that the .exe runs on
# its own:  check-program.sh EXE VERSION
set -eu
exe=$1 want=$2.0
fail() { echo "$exe: $*"; exit 1; }
strings "$exe" | grep -q 'requestedExecutionLevel level="asInvoker"' || fail "no asInvoker manifest"
packaging=$(dirname "$0")/../../packaging
for version in "$(strings -n 3 -el "$exe" | grep -x -A1 FileVersion | tail -n 1)" \
    "$(strings -n 3 -el "$exe" | grep -x -A1 ProductVersion | tail -n 1)" \
    "$(sh "$packaging/file-version.sh" "$exe")" "$(sh "$packaging/file-version.sh" "$exe" --product)" \
    "$(strings "$exe" | sed -n 's/.*<assemblyIdentity .* version="\([^"]*\)".*/\1/p')"; do
  [ "$version" = "$want" ] || fail "a version resource or the manifest says '$version', not $want"
done
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
[ "$dlls" = "advapi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll " ] || fail "imports $dlls"
