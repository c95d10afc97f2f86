#!/usr/bin/env bash
# Prints the whole-run table of docs/performance.md: `korva train` and
# `korva evaluate --folds 5` timed as a user runs them (one fresh process per
# run, cold memory included) against the floor of a training on the same CSV
# file (bench/csv_floor: one read, one parse on one thread, one dsyrk).
#
#   bench/run_whole_run_bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR (default build) must hold a Release or RelWithDebInfo build with
# benchmarks; RUNS (default 7) paired runs per row, of which the medians are
# shown. Each round runs the floor, train and evaluate back to back, so that
# the ratios compare runs under the same load.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
runs=${2:-7}
korva=$dir/korva
floor=$dir/bench/csv_floor
for tool in "$korva" "$floor" /usr/bin/time; do
  [[ -x $tool ]] || { echo "missing $tool (build $dir; apt-get install time)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# "seconds kilobytes" of one run of a command, its output dropped.
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>/dev/null
  cat "$work/time"
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

echo "$(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg) at the start; $runs paired runs per row, medians"
echo
echo "| data (n x p) | CSV | p-enter / p-remove, MaxIter | floor | korva train | train / floor | train peak | peak / data | training | dsyrk | training / dsyrk | evaluate --folds 5 | evaluate / train |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
# The shapes and seed of engine_benchmark, written as CSV.
for shape in "720 8 20" "6000 20 30" "12000 20 50"; do
  read -r epochs channels samples <<<"$shape"
  features=$((channels * samples))
  csv=$work/p300_$epochs.csv
  "$korva" generate --epochs "$epochs" --channels "$channels" \
    --samples "$samples" --seed 7 --output "$csv" --quiet
  megabytes=$(du -m "$csv" | cut -f1)
  dataMb=$(awk -v n="$epochs" -v p="$features" 'BEGIN {printf "%.1f", n * p * 8 / 1e6}')
  for settings in "" "0.10 0.15 60"; do
    parameters=()
    shown="defaults"
    if [[ -n $settings ]]; then
      read -r pEnter pRemove maxIter <<<"$settings"
      parameters=(--p-enter "$pEnter" --p-remove "$pRemove" --max-iter "$maxIter")
      shown="$pEnter / $pRemove, $maxIter"
    fi
    : >"$work/rows"
    for ((i = 0; i < runs; ++i)); do
      read -r floorS _ < <(measure "$floor" "$csv")
      dsyrk=$(sed -n 's/.*dsyrk \([0-9.]*\) ms.*/\1/p' "$work/out")
      read -r trainS trainKb < <(measure "$korva" train "$csv" \
        --model "$work/model.xml" "${parameters[@]}")
      training=$(sed -n 's/^selected .* in \([0-9.]*\) \(ms\|s\)$/\1 \2/p' "$work/out" |
        awk '{print $2 == "s" ? $1 * 1000 : $1}')
      read -r evaluateS _ < <(measure "$korva" evaluate "$csv" --folds 5 \
        --quiet "${parameters[@]}")
      echo "$floorS $trainS $trainKb $training $dsyrk $evaluateS" >>"$work/rows"
    done
    column() { awk -v c="$1" '{print $c}' "$work/rows" | median; }
    floorS=$(column 1) trainS=$(column 2) trainMb=$(($(column 3) / 1000))
    training=$(column 4) dsyrk=$(column 5) evaluateS=$(column 6)
    # Ratios of medians of the paired runs.
    echo "| $epochs x $features | $megabytes MB | $shown | $floorS s | $trainS s |" \
      "$(ratio "$trainS" "$floorS") | $trainMb MB | $(ratio "$trainMb" "$dataMb") |" \
      "$training ms | $dsyrk ms | $(ratio "$training" "$dsyrk") | $evaluateS s |" \
      "$(ratio "$evaluateS" "$trainS") |"
  done
done
echo
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
