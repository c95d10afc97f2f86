#!/usr/bin/env bash
# Prints the speller table of docs/performance.md: `korva spell` against
# `korva score` on the same rows, a copy-spelling table of 100 selections x
# 15 repetitions x 12 flashes (18,000 flashes) in a 6x6 layout, timed as a
# user runs them (one fresh process per run). Both read the table and score
# every flash; spell then decodes the selections for k = 1 .. 15 and stops
# them dynamically (--stop-at 0.95).
#
#   bench/run_speller_bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR (default build) must hold a Release or RelWithDebInfo build; RUNS
# (default 7) paired runs per row, of which the medians are shown. Each
# round runs score and spell back to back, so that the ratio compares runs
# under the same load. Wall-clock time is what a user waits; on a shared,
# loaded machine it swings by tens of per cent from run to run, so the
# processor time (user + system) is shown beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
runs=${2:-7}
korva=$dir/korva
for tool in "$korva" /usr/bin/time; do
  [[ -x $tool ]] || { echo "missing $tool (build $dir; apt-get install time)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The wall-clock and processor seconds of one run; a run that fails ends
# the bench.
seconds() {
  if ! /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err"; then
    echo "failed: $* ($(tail -n 1 "$work/err"))" >&2
    return 1
  fi
  awk '{printf "%s %.2f", $1, $2 + $3}' "$work/time"
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# The rows of a generated set (one target in six) as a speller table: per
# selection (target drawn from the 36 symbols), 15 rounds of the codes 1-12
# in random order, the two flashes that light the target from target rows.
# Writes the table to $2 and the target text to $3.
speller_table() {
  awk -F, -v table="$2" -v text="$3" '
    BEGIN { srand(7); symbols = "ABCDEFGHIJKLMNOPQRSTUVWXYZ123456789_" }
    NR == 1 { print "selection,code," $0 > table; next }
    $1 > 0 { t[++nt] = $0; next }
    { o[++no] = $0 }
    END {
      ti = 0; oi = 0; spelled = ""
      for (s = 1; s <= 100; ++s) {
        item = int(rand() * 36); spelled = spelled substr(symbols, item + 1, 1)
        for (r = 0; r < 15; ++r) {
          for (c = 1; c <= 12; ++c) code[c] = c
          for (c = 12; c > 1; --c) { j = int(rand() * c) + 1; x = code[c]; code[c] = code[j]; code[j] = x }
          for (c = 1; c <= 12; ++c) {
            lit = code[c] == item % 6 + 1 || code[c] == 7 + int(item / 6)
            print s "," code[c] "," (lit ? t[++ti] : o[++oi]) > table
          }
        }
      }
      print spelled > text
    }' "$1"
}

echo "$(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg) at the start; $runs paired runs per row, medians"
echo
echo "| flashes x features | CSV | korva score: wall (processor) | korva spell: wall (processor) | spell / score, wall | spell / score, processor |"
echo "|---|---|---|---|---|---|"
for shape in "4 20" "8 20" "20 30"; do
  read -r channels samples <<<"$shape"
  features=$((channels * samples))
  "$korva" generate --epochs 18000 --channels "$channels" --samples "$samples" \
    --seed 7 --output "$work/flashes.csv" --quiet
  "$korva" generate --epochs 2000 --channels "$channels" --samples "$samples" \
    --seed 8 --output "$work/train.csv" --quiet
  "$korva" train "$work/train.csv" --p-enter 0.1 --p-remove 0.15 \
    --model "$work/model.xml" --quiet
  speller_table "$work/flashes.csv" "$work/table.csv" "$work/text"
  megabytes=$(du -m "$work/table.csv" | cut -f1)
  : >"$work/rows"
  for ((i = 0; i < runs; ++i)); do
    score=$(seconds "$korva" score "$work/model.xml" "$work/table.csv" \
      --output "$work/scores.csv")
    spell=$(seconds "$korva" spell "$work/model.xml" "$work/table.csv" \
      --layout 6x6 --target-text "$(cat "$work/text")" --stop-at 0.95 \
      --flash-ms 175 --pause-s 2)
    echo "$score $spell" >>"$work/rows"
  done
  score=$(awk '{print $1}' "$work/rows" | median)
  spell=$(awk '{print $3}' "$work/rows" | median)
  score_cpu=$(awk '{print $2}' "$work/rows" | median)
  spell_cpu=$(awk '{print $4}' "$work/rows" | median)
  echo "| 18000 x $features | $megabytes MB | $score s ($score_cpu s) | $spell s ($spell_cpu s) | $(ratio "$spell" "$score") | $(ratio "$spell_cpu" "$score_cpu") |"
done
echo
echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
