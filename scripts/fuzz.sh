#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz and runs each for a while.
#   scripts/fuzz.sh [SECONDS [TARGET...]]
# SECONDS per target (default 60); TARGET is any of document, sections, csv,
# training, mat, report, brainvision, gdf, edf, headset_csv, headset_lines,
# recipe, speller, xdf, bids_tsv, fieldtrip (default all). Exits non-zero
# when any target finds a problem; the input that shows it is left in
# build-fuzz/fuzz/artifacts/. New
# inputs that reach new code collect in build-fuzz/fuzz/work/TARGET/ and are
# reused by the next run.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(document sections csv training mat report brainvision gdf edf
           headset_csv headset_lines recipe speller xdf bids_tsv fieldtrip)
fi

if ! command -v clang++ >/dev/null; then
  scripts/setup.sh
fi

dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DKORVA_FUZZ=ON \
  -DKORVA_SANITIZE=ON -DKORVA_BUILD_TESTS=OFF -DKORVA_BUILD_BENCHMARKS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targetNames=()
for t in "${targets[@]}"; do targetNames+=("${t}_fuzzer"); done
cmake --build "$dir" --target "${targetNames[@]}"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

declare -A dictionary=([document]=xml [sections]=xml [csv]=csv [mat]=mat
                       [report]=report [brainvision]=brainvision [gdf]=gdf
                       [edf]=edf [headset_csv]=csv [headset_lines]=csv
                       [recipe]=xml
                       [xdf]=xdf [bids_tsv]=bids_tsv)
failed=()
for t in "${targets[@]}"; do
  work="$dir/fuzz/work/$t"
  mkdir -p "$work" "$dir/fuzz/artifacts"
  args=(-rss_limit_mb=2048 -timeout=30 -max_total_time="$seconds"
        -print_final_stats=1 -artifact_prefix="$dir/fuzz/artifacts/$t-")
  if [[ -n "${dictionary[$t]:-}" ]]; then
    args+=(-dict="fuzz/${dictionary[$t]}.dict")
  fi
  # The first folder collects new inputs; the kept seeds and regression
  # inputs are read only.
  corpora=("$work" "fuzz/corpus/$t")
  if [[ -d "fuzz/regressions/$t" ]]; then corpora+=("fuzz/regressions/$t"); fi
  log="$dir/fuzz/$t.log"
  echo "fuzz: $t for ${seconds}s (log: $log)"
  if "$dir/fuzz/${t}_fuzzer" "${args[@]}" "${corpora[@]}" >"$log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' \
      "$log" | sed "s/^/  /"
  else
    echo "fuzz: $t FOUND A PROBLEM; see $log and $dir/fuzz/artifacts/"
    # What the log says of it, if anything (a dictionary it could not read
    # leaves no finding: its last lines then).
    { grep -E 'ERROR|finding:|SUMMARY|Test unit written' "$log" ||
      tail -n 3 "$log"; } | head -5 | sed "s/^/  /"
    failed+=("$t")
  fi
done

if ((${#failed[@]})); then
  echo "fuzz: problems in: ${failed[*]}"
  exit 1
fi
echo "fuzz: no problem found"
