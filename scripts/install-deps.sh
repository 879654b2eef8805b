#!/bin/sh
# Installs what building and testing the tool needs, from Debian's packages,
# when it is missing: CMake, a C++ compiler and GoogleTest.
set -eu
missing=""
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v g++ >/dev/null 2>&1 || missing="$missing g++"
command -v make >/dev/null 2>&1 || missing="$missing make"
[ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
[ -f /usr/include/gmock/gmock.h ] || missing="$missing libgmock-dev"
command -v setpriv >/dev/null 2>&1 || missing="$missing util-linux"
[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing:$missing"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $missing
