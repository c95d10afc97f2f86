#!/usr/bin/env bash
# Prints the training-speed tables of docs/performance.md, measured here and
# now: the engine against dsyrk and the exact refit loop (engine_benchmark
# --table) and the scoring throughput. Whole runs of korva:
# bench/run_whole_run_bench.sh.
#
#   bench/run_training_bench.sh [BUILD_DIR] [--no-exact]
#
# BUILD_DIR (default build) must hold a Release or RelWithDebInfo build with
# benchmarks. --no-exact skips the exact refit loop (about three minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
exact=""
for arg in "$@"; do
  case $arg in
    --no-exact) exact=--no-exact ;;
    *) dir=$arg ;;
  esac
done
bench=$dir/bench/engine_benchmark
for tool in "$bench"; do
  [[ -x $tool ]] || { echo "missing $tool: build $dir first" >&2; exit 1; }
done

echo "$(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
echo
"$bench" --table $exact
echo

# Scoring: GetScore over every row of the three data sets.
"$bench" --benchmark_filter=BM_Score --benchmark_counters_tabular=true 2>/dev/null
echo
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
