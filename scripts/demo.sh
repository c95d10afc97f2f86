#!/usr/bin/env bash
# Sets up, builds, and runs the main job on the built-in demo data: simulated
# P300 calibration and test sets, training, testing, and the model, weight
# file and report in out/demo. Arguments replace the demo's options
# (see build/korva demo --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DKORVA_BUILD_TESTS=OFF -DKORVA_BUILD_BENCHMARKS=OFF
if (($#)); then
  build/korva demo "$@"
else
  build/korva demo --output out/demo
fi
