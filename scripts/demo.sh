#!/usr/bin/env bash
# Sets up, builds, and runs the main job on the built-in demo data.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DKORVA_BUILD_TESTS=OFF -DKORVA_BUILD_BENCHMARKS=OFF
build/korva "$@"
