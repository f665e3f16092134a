#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test of SQV64.
#
#   ./test.sh           everything: format check, unit and integration tests
#                       under AddressSanitizer and UndefinedBehaviorSanitizer,
#                       the concurrency tests under ThreadSanitizer, the
#                       fuzz targets for a few seconds each, the release
#                       build with a short benchmark run, and the Windows
#                       build tested under Wine
#   ./test.sh --quick   format check and the sanitizer run of all tests only
set -euo pipefail
cd "$(dirname "$0")"

quick=0
[ "${1:-}" = "--quick" ] && quick=1

scripts/install-deps.sh
jobs=$(nproc)
# Every test dependency is installed above: a test that finds one missing
# fails instead of skipping.
export SQV64_REQUIRE_TEST_DEPENDENCIES=1

step() { printf '\n== %s\n' "$*"; }

step "format"
scripts/check-format.sh

step "tests under address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSQV64_WERROR=ON \
  -DSQV64_SANITIZE=address,undefined -DSQV64_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 300

[ "$quick" -eq 1 ] && exit 0

step "concurrency tests under the thread sanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSQV64_WERROR=ON \
  -DSQV64_SANITIZE=thread -DSQV64_BUILD_BENCHMARKS=OFF >/dev/null
# Only what the concurrency-labelled tests need.
cmake --build build-tsan -j "$jobs" --target sqv64 protocol_tests server_process_tests \
  catalogue_concurrency_tests metar_network_tests
# ThreadSanitizer cannot map its shadow memory with the kernel's full
# address-space randomisation; run without it.
setarch "$(uname -m)" -R ctest --test-dir build-tsan --output-on-failure -L concurrency --timeout 600

step "fuzz targets over their corpora"
# Ten seconds each, nine targets: at most two minutes in all.
scripts/fuzz.sh 10

step "release build and benchmarks"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DSQV64_WERROR=ON >/dev/null
cmake --build build -j "$jobs" --target sqv64 sqv64ctl catalogue_list_bench getok_bench transfer_bench
ctest --test-dir build --output-on-failure -L benchmark --timeout 900

if [ -x scripts/test-windows.sh ]; then
  step "Windows build under Wine"
  scripts/build-windows.sh
  scripts/test-windows.sh
fi
