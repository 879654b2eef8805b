#!/bin/sh
# Installs, from Debian's packages and only when missing, what one command of
# this project needs:
#   scripts/install-deps.sh build    CMake, make, g++ and nlohmann/json: the native tool (the demo)
#   scripts/install-deps.sh test     the build's, GoogleTest, clang with its sanitizer and
#                                    libFuzzer runtimes, valgrind, the JSON Schema validator
#                                    for the reports, Ansible for the playbook test, the
#                                    windows group, and wixl, msitools, osslsigncode and
#                                    openssl for the installer packages and their signatures
#   scripts/install-deps.sh windows  MinGW-w64 and nlohmann/json for both Windows programs, and Wine to run
#                                    them: 64-bit Wine, and 32-bit Wine (adding the i386
#                                    architecture) only where the 32-bit program's tests
#                                    can run (see wine-mode.sh)
#   scripts/install-deps.sh bench    the build's, Google Benchmark, mawk and valgrind
# Recommended packages are left out: nothing here uses them.
set -eu
here=$(dirname "$0")
missing=""
need() {  # need PACKAGE TEST...: PACKAGE unless the test holds
  package=$1
  shift
  case "$missing " in *" $package "*) return ;; esac
  "$@" >/dev/null 2>&1 || missing="$missing $package"
}
has() { command -v "$1"; }

build() {
  need cmake has cmake
  need make has make
  need g++ has g++
  need nlohmann-json3-dev test -f /usr/include/nlohmann/json.hpp
}
windows() {
  need nlohmann-json3-dev test -f /usr/include/nlohmann/json.hpp
  need g++-mingw-w64-i686 has i686-w64-mingw32-g++
  need g++-mingw-w64-x86-64 has x86_64-w64-mingw32-g++
  need wine64 test -x /usr/lib/wine/wine64
  need wine has wine
  mode=$("$here/wine-mode.sh")
  if [ "$mode" = both ]; then
    need wine32:i386 test -x /usr/lib/wine/wine
  fi
}

for group in "${@:-build}"; do
  case "$group" in
    build) build ;;
    test)
      build
      need libgtest-dev test -f /usr/include/gtest/gtest.h
      need libgmock-dev test -f /usr/include/gmock/gmock.h
      need util-linux has setpriv
      need clang has clang++
      need libclang-rt-dev ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a
      need valgrind has valgrind
      need python3-jsonschema /usr/bin/python3 -c 'import jsonschema; jsonschema.Draft202012Validator'
      need ansible-core has ansible-playbook
      windows
      need wixl has wixl
      need msitools has msibuild
      need osslsigncode has osslsigncode
      need openssl has openssl
      ;;
    windows) windows ;;
    bench)
      build
      need libbenchmark-dev test -f /usr/include/benchmark/benchmark.h
      need mawk has mawk
      need valgrind has valgrind
      ;;
    *) echo "usage: scripts/install-deps.sh [build|test|windows|bench]..." >&2; exit 2 ;;
  esac
done
[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing:$missing"
case "$missing" in
  *:i386*)
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
esac
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends $missing
