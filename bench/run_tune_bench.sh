#!/usr/bin/env bash
# Prints the tuning table of docs/performance.md: `korva tune` over 20
# settings x 5 folds timed as a user runs it, against what the trainings
# alone need: the sum of their own times (from the summary) over the cores
# used, plus one parse of the file (a `korva score` run, which reads the
# whole file and scores it with a one-feature model).
#
#   bench/run_tune_bench.sh [BUILD_DIR] [RUNS] [JOBS]
#
# BUILD_DIR (default build) must hold a Release or RelWithDebInfo build;
# RUNS (default 3) runs per row, of which the medians are shown; JOBS
# (default: the number of cores) is tune's --jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
runs=${2:-3}
jobs=${3:-$(nproc)}
korva=$dir/korva
for tool in "$korva" /usr/bin/time; do
  [[ -x $tool ]] || { echo "missing $tool (build $dir; apt-get install time)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The seconds of one run of a command, its output dropped.
seconds() {
  /usr/bin/time -f "%e" -o "$work/time" "$@" >/dev/null 2>&1
  cat "$work/time"
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# 5 x 4 p-values, every pair valid: 20 settings.
grid=(--p-enter 0.001,0.005,0.01,0.05,0.1 --p-remove 0.15,0.2,0.3,0.5)
cores=$(($(nproc) < jobs ? $(nproc) : jobs))
echo "$(nproc) cores, --jobs $jobs; load average $(cut -d' ' -f1-3 /proc/loadavg) at the start; $runs runs per row, medians"
echo
echo "| data (n x p) | settings x folds | korva tune | trainings' own times | one parse | limit: 1.25 x trainings / $cores + parse | tune / limit |"
echo "|---|---|---|---|---|---|---|"
for shape in "6000 20 30"; do
  read -r epochs channels samples <<<"$shape"
  csv=$work/p300_$epochs.csv
  "$korva" generate --epochs "$epochs" --channels "$channels" \
    --samples "$samples" --seed 7 --output "$csv" --quiet
  "$korva" train "$csv" --max-iter 1 --model "$work/one.xml" --quiet
  : >"$work/rows"
  for ((i = 0; i < runs; ++i)); do
    parse=$(seconds "$korva" score "$work/one.xml" "$csv" --output /dev/null)
    tune=$(seconds "$korva" tune "$csv" "${grid[@]}" --folds 5 \
      --jobs "$jobs" --summary "$work/summary.json")
    trainings=$(/usr/bin/python3 -c '
import json, sys
summary = json.load(open(sys.argv[1]))
print(sum(fold["seconds"] for s in summary["settings"] for fold in s["folds"]))
print(len(summary["settings"]), len(summary["settings"][0]["folds"]))
' "$work/summary.json" | paste -sd' ')
    echo "$tune $parse $trainings" >>"$work/rows"
  done
  column() { awk -v c="$1" '{print $c}' "$work/rows" | median; }
  tune=$(column 1) parse=$(column 2) trainings=$(column 3)
  read -r _ _ _ settings folds < <(head -1 "$work/rows")
  limit=$(awk -v t="$trainings" -v c="$cores" -v p="$parse" 'BEGIN {printf "%.2f", 1.25 * t / c + p}')
  echo "| $epochs x $((channels * samples)) | $settings x $folds |" \
    "$tune s | $(printf %.2f "$trainings") s | $parse s | $limit s |" \
    "$(awk -v a="$tune" -v b="$limit" 'BEGIN {printf "%.2f", a / b}') |"
done
echo
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
