#!/usr/bin/env bash
# Prints the training-speed tables of docs/performance.md, measured here and
# now: the engine against dsyrk and the exact refit loop (engine_benchmark
# --table), the whole `korva train` and `korva evaluate --folds 5` on the same
# data sets written as CSV, and the scoring throughput.
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
korva=$dir/korva
for tool in "$bench" "$korva"; do
  [[ -x $tool ]] || { echo "missing $tool: build $dir first" >&2; exit 1; }
done

echo "$(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
echo
"$bench" --table $exact
echo

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
TIMEFORMAT=%R
seconds() { { time "$@" >/dev/null 2>&1; } 2>&1; }

echo "| data (n x p) | CSV | p-enter / p-remove, MaxIter | korva train | korva evaluate --folds 5 |"
echo "|---|---|---|---|---|"
# The shapes and seed of engine_benchmark: the same values, written as CSV.
for shape in "2000 10 20" "6000 20 30" "12000 20 50"; do
  read -r epochs channels samples <<<"$shape"
  csv=$work/p300_$epochs.csv
  "$korva" generate --epochs "$epochs" --channels "$channels" \
    --samples "$samples" --seed 7 --output "$csv" >/dev/null
  megabytes=$(du -m "$csv" | cut -f1)
  for settings in "0.05 0.10 300" "0.10 0.15 60"; do
    read -r pEnter pRemove maxIter <<<"$settings"
    parameters=(--p-enter "$pEnter" --p-remove "$pRemove" --max-iter "$maxIter")
    train=$(seconds "$korva" train "$csv" --model "$work/model.xml" --quiet \
      "${parameters[@]}")
    evaluate=$(seconds "$korva" evaluate "$csv" --folds 5 "${parameters[@]}")
    echo "| $epochs x $((channels * samples)) | $megabytes MB |" \
      "$pEnter / $pRemove, $maxIter | $train s | $evaluate s |"
  done
done
echo
# Scoring: GetScore over every row of the three data sets.
"$bench" --benchmark_filter=BM_Score --benchmark_counters_tabular=true 2>/dev/null
echo
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
