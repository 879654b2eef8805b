#!/bin/sh
# Prints the file version of a Windows program, major.minor.build.revision,
# from the fixed part of its version resource (VS_FIXEDFILEINFO: the
# signature 0xFEEF04BD, the structure's version, then the file version as two
# little-endian 32-bit halves, minor and major, then revision and build):
#   packaging/file-version.sh EXE [--product]
# --product prints the product version, the two halves after it, instead.
set -eu
[ $# -ge 1 ] || { echo "usage: file-version.sh EXE [--product]" >&2; exit 2; }
at=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe\x00\x00\x01\x00' "$1" | head -n 1 | cut -d: -f1)
[ -n "$at" ] || { echo "file-version.sh: $1 has no version resource" >&2; exit 1; }
skip=8
[ "${2:-}" != --product ] || skip=16
od -An -tu2 -j $((at + skip)) -N 8 "$1" | awk '{print $2 "." $1 "." $4 "." $3}'
