#!/bin/sh
# Exits 0 when this machine's kernel runs 32-bit x86 programs, 1 when it does
# not. It writes a 96-byte static i386 program that only exits with 42, runs
# it and looks at its status, so it needs no 32-bit package to answer.
set -u
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
# ELF header (52 bytes), one loadable segment (32 bytes), then the code:
# mov eax, 1 (exit); mov ebx, 42; int 0x80.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' > "$dir/probe"
printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >> "$dir/probe"
printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >> "$dir/probe"
printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >> "$dir/probe"
printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000' >> "$dir/probe"
printf '\270\001\000\000\000\273\052\000\000\000\315\200' >> "$dir/probe"
chmod +x "$dir/probe"
"$dir/probe" 2>/dev/null
[ $? -eq 42 ]
