#!/bin/sh
# Builds everything and runs every test:
#   - the unit tests of the logic against the in-memory machine, the registry
#     file tests, the end-to-end, fault and load tests on scratch stand-in
#     machines, and one run under valgrind;
#   - the same end-to-end scenarios against both Windows programs (32- and
#     64-bit, cross-built with MinGW-w64) under Wine. Where the kernel runs no
#     32-bit program, or SNAPRESERVE_WINE64_ONLY=1 is set, only the 64-bit
#     program runs, under 64-bit Wine, and the 32-bit program's tests are
#     reported as skipped; where both can run, the Wine suite runs a second
#     time that way too, so the 64-bit-only path is proven everywhere;
#   - the native suite again under AddressSanitizer and UndefinedBehaviorSanitizer;
#   - each libFuzzer target for a bounded time (FUZZ_SECONDS each, default 20).
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
jobs=$(nproc)
builds="$PWD/build/windows-x86;$PWD/build/windows-x64"
for preset in windows-x86 windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target all msi
  # The ZIP for servers: the .exe, the README and the licence, nothing else.
  cpack --preset "$preset" >/dev/null
  zip=build/$preset/$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "build/$preset/CPackConfig.cmake")
  contents=$(cmake -E tar tf "$zip.zip" | sort | tr '\n' ' ')
  [ "$contents" = "LICENSE README.md snapreserve.exe " ] ||
    { echo "$zip.zip holds: $contents"; exit 1; }
done

mode=$(scripts/wine-mode.sh)
wine64_only=OFF
[ "$mode" = both ] || wine64_only=ON
if [ "$mode" = both ]; then
  echo "== Windows programs under Wine: both"
elif [ "${SNAPRESERVE_WINE64_ONLY:-0}" = 1 ]; then
  echo "== Windows programs under Wine: the 64-bit one alone, as SNAPRESERVE_WINE64_ONLY=1 asks;" \
    "the 32-bit program's tests are skipped"
else
  echo "== Windows programs under Wine: the 64-bit one alone, since this machine's kernel runs" \
    "no 32-bit program; the 32-bit program's tests are skipped"
fi
cmake -S . -B build -DSNAPRESERVE_TESTS=ON -DSNAPRESERVE_WINDOWS_BUILDS="$builds" \
  -DSNAPRESERVE_WINE64_ONLY=$wine64_only
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

if [ "$mode" = both ]; then
  echo "== Windows programs under 64-bit Wine alone, as on a kernel without 32-bit programs"
  cmake -S . -B build/wine64-only -DSNAPRESERVE_WINDOWS_BUILDS="$builds" \
    -DSNAPRESERVE_WINE64_ONLY=ON >/dev/null
  cmake --build build/wine64-only -j "$jobs" \
    --target wine_e2e_tests_windows-x86 wine_e2e_tests_windows-x64
  ctest --test-dir build/wine64-only --output-on-failure -j "$jobs" -R '^(wine|windows)'
fi

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" -E '^valgrind'

scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
