#!/usr/bin/env bash
# Lists the functions of product code (not tests, fuzz targets or benches)
# longer than LIMIT lines (default 60): C++ through clang-tidy's
# readability-function-size check on BUILD_DIR's compile_commands.json
# (configure it with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON), Python through its
# syntax tree.
#
#   scripts/long_functions.sh BUILD_DIR [LIMIT]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
limit=${2:-60}
[[ -f $build/compile_commands.json ]] || {
  echo "no $build/compile_commands.json: configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON" >&2
  exit 1
}
product() {
  git ls-files "$@" | grep -Ev '(^|/)(tests?|testing|fuzz|bench)/|_test\.|(^|/)test_|conftest\.py'
}
product '*.cpp' |
  xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet \
    --checks='-*,readability-function-size' \
    --config="{CheckOptions: [{key: readability-function-size.LineThreshold, value: $limit}]}" \
    2>/dev/null |
  grep -E "warning: function .* exceeds" | sed "s|^$PWD/||" | sort -u || true
product '*.py' | python3 -c '
import ast, sys
limit = int(sys.argv[1])
for path in sys.stdin.read().split():
    for node in ast.walk(ast.parse(open(path).read())):
        if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            length = node.end_lineno - node.lineno + 1
            if length > limit:
                print(f"{path}:{node.lineno}: function {node.name} has {length} lines")
' "$limit"
