#!/usr/bin/env bash
# Sets up, builds from scratch and runs every test: once in a normal build and
# once under AddressSanitizer + UndefinedBehaviorSanitizer, then every fuzz
# target for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
# Tests are always built here, whatever an earlier configuration chose; a run
# that finds no test fails.
scripts/build.sh build -DKORVA_BUILD_TESTS=ON
(cd build && ctest --output-on-failure --no-tests=error -j "$jobs")

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
scripts/build.sh build-asan -DKORVA_SANITIZE=ON -DKORVA_BUILD_TESTS=ON \
  -DKORVA_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ctest --output-on-failure --no-tests=error -j "$jobs")

# Every fuzz target for a minute under ASan+UBSan (see docs/hardening.md for
# longer runs).
scripts/fuzz.sh 60
