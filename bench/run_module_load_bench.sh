#!/usr/bin/env bash
# Module load time with and without the dialog: loads each module in a fresh
# process, alternating, and prints the median of each.
#   bench/run_module_load_bench.sh WITH_UI.kvc WITHOUT_UI.kvc [RUNS]
# Needs build/bench/module_load_time (a build with benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${TOOL:-build/bench/module_load_time}
runs=${3:-41}
declare -A times
for ((r = 0; r < runs; r++)); do
  for m in "$1" "$2"; do
    times[$m]+="$("$tool" "$m" | cut -f2) "
  done
done
median() { tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "load average $(cut -d' ' -f1-3 /proc/loadavg); $runs runs each, fresh process per run"
for m in "$1" "$2"; do
  echo "$m: median $(echo "${times[$m]}" | median) us"
done
