#!/bin/sh
# Exits 0 when this machine's kernel runs 32-bit x86 programs, 1 when it does
# not, and 2 when it cannot tell, and says which in one line. It writes two tiny static programs that only
# exit with 42, a 64-bit one and a 32-bit one, runs both and looks at their
# status, so it needs no 32-bit package to answer. The 64-bit one shows that
# programs run from the folder at all (a folder mounted noexec runs none): the
# first folder where it runs is used.
set -u

# Writes the bytes given in hexadecimal to standard output.
bytes() {
  for byte in "$@"; do
    # shellcheck disable=SC2059
    printf "\\$(printf %03o "0x$byte")"
  done
}

# ELF header, one loadable segment, then: mov eax, 1 (exit); mov ebx, 42; int 0x80.
program32() {
  bytes 7f 45 4c 46 01 01 01 00 00 00 00 00 00 00 00 00 \
        02 00 03 00 01 00 00 00 54 80 04 08 34 00 00 00 \
        00 00 00 00 00 00 00 00 34 00 20 00 01 00 00 00 00 00 00 00 \
        01 00 00 00 00 00 00 00 00 80 04 08 00 80 04 08 \
        60 00 00 00 60 00 00 00 05 00 00 00 00 10 00 00 \
        b8 01 00 00 00 bb 2a 00 00 00 cd 80
}

# The same for x86-64: mov eax, 60 (exit); mov edi, 42; syscall.
program64() {
  bytes 7f 45 4c 46 02 01 01 00 00 00 00 00 00 00 00 00 \
        02 00 3e 00 01 00 00 00 78 00 40 00 00 00 00 00 \
        40 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \
        00 00 00 00 40 00 38 00 01 00 00 00 00 00 00 00 \
        01 00 00 00 05 00 00 00 00 00 00 00 00 00 00 00 \
        00 00 40 00 00 00 00 00 00 00 40 00 00 00 00 00 \
        84 00 00 00 00 00 00 00 84 00 00 00 00 00 00 00 \
        00 10 00 00 00 00 00 00 \
        b8 3c 00 00 00 bf 2a 00 00 00 0f 05
}

# Runs the program written by $2 from folder $1; true when it exits with 42.
runs() {
  program=$1/snapreserve-probe-$$
  "$2" > "$program" && chmod +x "$program" || return 1
  "$program" 2>/dev/null
  status=$?
  rm -f "$program"
  [ "$status" -eq 42 ]
}

top=$(cd "$(dirname "$0")/.." && pwd)
for folder in "${TMPDIR:-/tmp}" "$top/build" "$top"; do
  [ -d "$folder" ] && [ -w "$folder" ] || continue
  runs "$folder" program64 || continue
  if runs "$folder" program32; then
    echo "runs-32bit.sh: this machine's kernel runs 32-bit programs"
    exit 0
  fi
  echo "runs-32bit.sh: this machine's kernel runs no 32-bit program"
  exit 1
done
echo "runs-32bit.sh: no folder here runs a program; cannot tell whether 32-bit programs run" >&2
exit 2
