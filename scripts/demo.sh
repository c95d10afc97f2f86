#!/usr/bin/env bash
# Sets up, builds, and runs the main job on the built-in demo data: simulated
# P300 calibration and test sets, training, testing, and the model, weight
# file and report in out/demo. Arguments replace the demo's options
# (see build/korva demo --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Only what the demo runs is built; the configuration is the one that
# scripts/test.sh uses too, so either may run first.
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target korva ZEZODOvo64
if (($#)); then
  build/korva demo "$@"
else
  build/korva demo --output out/demo
fi
