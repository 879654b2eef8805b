#!/bin/sh
# Installs what building and testing the tool needs, from Debian's packages,
# when it is missing: CMake, a C++ compiler and GoogleTest for the native
# build; clang with its sanitizer and libFuzzer runtimes, and valgrind, for the
# robustness checks; Google Benchmark and mawk for the benchmarks; MinGW-w64
# for the Windows programs; Wine (64- and 32-bit, after adding the i386
# architecture) to run them.
set -eu
missing=""
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v g++ >/dev/null 2>&1 || missing="$missing g++"
command -v make >/dev/null 2>&1 || missing="$missing make"
[ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
[ -f /usr/include/gmock/gmock.h ] || missing="$missing libgmock-dev"
command -v setpriv >/dev/null 2>&1 || missing="$missing util-linux"
command -v clang++ >/dev/null 2>&1 || missing="$missing clang"
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
  missing="$missing libclang-rt-dev"
command -v valgrind >/dev/null 2>&1 || missing="$missing valgrind"
[ -f /usr/include/benchmark/benchmark.h ] || missing="$missing libbenchmark-dev"
command -v mawk >/dev/null 2>&1 || missing="$missing mawk"
command -v i686-w64-mingw32-g++ >/dev/null 2>&1 || missing="$missing g++-mingw-w64-i686"
command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1 || missing="$missing g++-mingw-w64-x86-64"
command -v wine >/dev/null 2>&1 || missing="$missing wine"
[ -x /usr/lib/wine/wine64 ] || missing="$missing wine64"
[ -x /usr/lib/wine/wine ] || missing="$missing wine32:i386"
[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing:$missing"
case "$missing" in
  *wine32:i386*) $sudo dpkg --add-architecture i386 ;;
esac
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $missing
