#!/usr/bin/env bash
# Prints the table of shared trainings in docs/performance.md: `korva train`,
# `korva evaluate --folds 5` and `korva tune` over 20 settings x 5 folds,
# each a whole process as a user runs it, with the module's shared trainings
# and with them switched off (KORVA_SHARED_TRAININGS=0, every fold and
# setting trained on its own). Each round runs the five commands back to
# back, so that they share the machine's load; the table shows the medians
# of the rounds and the ratios of those medians.
#
#   bench/run_shared_training_bench.sh [BUILD_DIR] [RUNS] [SHAPES]
#
# BUILD_DIR (default build) must hold a Release or RelWithDebInfo build;
# RUNS (default 3) rounds per row; SHAPES (default "6000 20 30") epochs,
# channels and samples of each data set, separated by commas ("6000 20
# 30,12000 20 50" adds 12000 x 1000).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
runs=${2:-3}
shapes=${3:-6000 20 30}
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
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# 5 x 4 p-values, every pair valid: 20 settings.
grid=(--p-enter 0.001,0.005,0.01,0.05,0.1 --p-remove 0.15,0.2,0.3,0.5)
echo "$(nproc) cores, --jobs 2; load average $(cut -d' ' -f1-3 /proc/loadavg) at the start; $runs rounds per row, medians"
echo
echo "| data (n x p) | train | evaluate | tune | evaluate / train | tune / evaluate | evaluate, separate | tune, separate | evaluate / train, separate | tune / evaluate, separate |"
echo "|---|---|---|---|---|---|---|---|---|---|"
IFS=, read -r -a list <<<"$shapes"
for shape in "${list[@]}"; do
  read -r epochs channels samples <<<"$shape"
  csv=$work/p300_$epochs.csv
  "$korva" generate --epochs "$epochs" --channels "$channels" \
    --samples "$samples" --seed 7 --output "$csv" --quiet
  : >"$work/rows"
  for ((i = 0; i < runs; ++i)); do
    row=()
    row+=("$(seconds "$korva" train "$csv" --model "$work/m.xml")")
    for shared in 1 0; do
      row+=("$(KORVA_SHARED_TRAININGS=$shared seconds "$korva" evaluate "$csv" \
        --folds 5 --jobs 2)")
      row+=("$(KORVA_SHARED_TRAININGS=$shared seconds "$korva" tune "$csv" \
        "${grid[@]}" --folds 5 --jobs 2)")
    done
    echo "${row[*]}" >>"$work/rows"
  done
  column() { awk -v c="$1" '{print $c}' "$work/rows" | median; }
  train=$(column 1) evaluate=$(column 2) tune=$(column 3)
  evaluate0=$(column 4) tune0=$(column 5)
  echo "| $epochs x $((channels * samples)) | $train s | $evaluate s |" \
    "$tune s | $(ratio "$evaluate" "$train") | $(ratio "$tune" "$evaluate") |" \
    "$evaluate0 s | $tune0 s | $(ratio "$evaluate0" "$train") |" \
    "$(ratio "$tune0" "$evaluate0") |"
done
echo
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
