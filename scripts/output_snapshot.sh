#!/usr/bin/env bash
# Runs korva's commands on the demo data and on a simulated recording
# session and keeps every output (standard output and error, exit status,
# models, weights, reports, summaries, score files), with the times that
# change from run to run masked. Two snapshots of different builds compare
# with `diff -r`: a change that should not alter what korva writes leaves
# them identical.
#
#   scripts/output_snapshot.sh BUILD_DIR SNAPSHOT_DIR
set -euo pipefail
build=$(realpath "$1")
snap=$2
korva=$build/korva
[[ -x $korva ]] || { echo "missing $korva" >&2; exit 1; }
rm -rf "$snap"
mkdir -p "$snap"
snap=$(realpath "$snap")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

n=0
# Runs one korva command; its streams and status go to NN-NAME.{out,err,rc}.
step() {
  local name=$1
  shift
  n=$((n + 1))
  local tag
  tag=$(printf '%02d-%s' "$n" "$name")
  set +e
  "$korva" "$@" >"$snap/$tag.out" 2>"$snap/$tag.err"
  echo $? >"$snap/$tag.rc"
  set -e
}

step demo demo --output demo
cal=demo/calibration.csv test=demo/test.csv
step train train $cal --p-enter 0.1 --p-remove 0.15 --model m.xml \
  --weights w.txt --log-json log.json --report train.html --summary train.json
step train-range train $cal --threshold 0.5 --threshold-mode range \
  --model m-range.xml
step train-balanced train $cal --threshold balanced --model m-bal.xml
step score score m.xml $test --output scores.csv --summary score.json \
  
step info info m.xml
step evaluate evaluate $cal --folds 5 --p-enter 0.1 --p-remove 0.15 \
  --report cv.html --summary cv.json --oof-scores oof.csv
step evaluate-test evaluate $cal --test $test --summary cvt.json
step evaluate-blocks evaluate $cal --blocks --folds 4 --jobs 1
step evaluate-balanced evaluate $cal --threshold balanced --folds 3
step tune tune $cal --model tuned.xml --report tune.html --summary tune.json
step tune-one-se tune $cal --one-se --p-enter 0.01,0.1 --p-remove 0.2 \
  --max-iter 5,300 --jobs 1
step evaluate-tune evaluate $cal --tune --folds 3 --summary cvtune.json
step bad-grid tune $cal --p-enter 0.5 --p-remove 0.1
step bad-folds evaluate $cal --folds 1000
step missing train nothing.csv

step gen1 generate --output run1.vhdr --seconds 60 --seed 1
step gen2 generate --output run2.vhdr --seconds 60 --seed 2
step gen3 generate --output run3.vhdr --seconds 60 --seed 3
step gen-csv generate --output table.csv --seed 4
events=(--target-events 2 --nontarget-events 1)
step epochs epochs run1.vhdr run2.vhdr "${events[@]}" --output epochs.csv
step epochs-recipe epochs run1.vhdr "${events[@]}" --channels Fz,Cz,Pz \
  --reference average --band 1,20 --filter-order 2 --window 100,600 --bins 4 \
  --baseline -100,0 --reject 150 --output epochs2.csv
step rec-train train run1.vhdr run2.vhdr "${events[@]}" --p-enter 0.1 \
  --p-remove 0.15 --model rm.xml --report rtrain.html --summary rtrain.json
step rec-info info rm.xml
step rec-score score rm.xml run3.vhdr --output rscores.csv --summary rscore.json
step rec-evaluate evaluate run1.vhdr run2.vhdr run3.vhdr "${events[@]}" \
  --report rcv.html --summary rcv.json
step rec-tune tune run1.vhdr run2.vhdr run3.vhdr "${events[@]}" \
  --p-enter 0.05,0.1 --p-remove 0.15 --model rtuned.xml --summary rtune.json
step rec-table-score score rm.xml $test
step rec-bad-window train run1.vhdr "${events[@]}" --window 900,100

for f in *; do
  [[ -f $f ]] && cp "$f" "$snap/file-$f"
done
cp demo/* "$snap/" 2>/dev/null || true
for f in demo/*; do cp "$f" "$snap/demo-$(basename "$f")"; done

# Times, durations and the places of temporary folders change from run to
# run; everything else must not.
python3 - "$snap" "$work" "$build" <<'EOF'
import pathlib, re, sys
snap, work, build = pathlib.Path(sys.argv[1]), sys.argv[2], sys.argv[3]
rules = [
    # A duration ends a line, a table cell or the "in all" of a total.
    (re.compile(r"\b\d+(\.\d+)? (ms|s)(?=$| in all|</td>|,? \d+ features)", re.M), r"T \2"),
    (re.compile(r'"(\w*seconds)": [0-9.e+-]+'), r'"\1": T'),
    (re.compile(r"Elapsed Time \d+"), "Elapsed Time T"),
    # The last column of a fold table is the fold's training time.
    # (its width too: a slower fold takes one more digit).
    (re.compile(r"^((fold \d+|test set)\s+\d+\s+\d+\s+\d+\s+\S+\s+\S+\s+\S+)\s+\S+", re.M), r"\1 T"),
]
for path in snap.iterdir():
    data = path.read_bytes()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        continue
    text = text.replace(work, "WORK").replace(build, "BUILD")
    for pattern, replacement in rules:
        text = pattern.sub(replacement, text)
    path.write_text(text, encoding="utf-8")
EOF
echo "snapshot of $n commands in $snap"
