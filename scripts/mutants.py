#!/usr/bin/env python3
"""Mutation testing of the test suite.

Two kinds of mutants, tried one at a time in a source checkout and its build
folder (configured once; each mutant is an incremental rebuild):

- the curated list, mutants.txt beside this script (or --mutants FILE): for
  each, check that its snippet occurs exactly once in its file and apply it;
- a random sample (--random N --seed S): one-token mutations of generic kinds
  (a comparison flipped, a number changed, && for ||, + for -, true for
  false, and Python's and/or, True/False) drawn with the seed from all product
  code, C++ and Python; tests, benchmarks, fuzz targets, examples, docs and
  scripts are left alone. A drawn mutant that does not compile, or whose file
  the build does not use, is dropped and the next one drawn, until N were
  tested.

A mutant is "killed" when a test fails or times out, "survived" when every
test passes, "invalid" when the build fails and "stale" (curated only) when
its snippet is not found exactly once. The tests run in stages: the unit
tests of the mutated part, then the end-to-end tests that exercise it
(PART_TESTS below, by ctest label), and the rest of the suite only when those
pass; a stage stops at its first failure. The file is always restored, and
the tree rebuilt at the end.

    scripts/mutants.py CHECKOUT BUILD [--only ID,...] [--out results.tsv]
    scripts/mutants.py CHECKOUT BUILD --random 30 --seed 1 [--out results.tsv]

A random run of 30 takes under an hour on one core (--jobs 1, the default) in
a Release build without benchmarks, in a clone of its own so that work in the
checkout goes on meanwhile:

    git clone -q . /tmp/korva-mutants && cd /tmp/korva-mutants
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DKORVA_BUILD_BENCHMARKS=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
    cmake --build build
    nice -n 10 scripts/mutants.py . build --random 30 --seed 1

It prints each mutant as it goes and then the survivors with file, line and
mutation; --list prints the sample without building anything. A survivor
that a new test kills belongs in mutants.txt, so the curated list keeps it.
"""
import argparse
import io
import os
import random
import re
import signal
import subprocess
import sys
import time
import tokenize
from pathlib import Path

KEYS = ("id", "file", "from", "to", "why")
TEST_EXCLUDE = "install_and_build_example"

# The ctest labels of each part's unit tests and of the end-to-end tests that
# exercise it (korva_tests runs korva, python the package's pytest suites).
# A part not named here, or a test without these labels, is run in the last
# stage, with the rest of the suite.
UNIT, END_TO_END = 0, 1
PART_TESTS = {
    "platform": ("", "korva_tests"),
    "text": ("text_tests data_tests recording_tests", "korva_tests python"),
    "include": ("host_tests hostkit_tests weighted_tests stepwise_tests",
                "boundary_tests korva_tests"),
    "host": ("host_tests hostkit_tests", "boundary_tests korva_tests"),
    "hostkit": ("hostkit_tests", "korva_tests python"),
    "weighted": ("weighted_tests stepwise_tests", "korva_tests"),
    "stepwise": ("stepwise_tests", "korva_tests"),
    "persist": ("persist_tests", "korva_tests"),
    "ui": ("ui_logic_tests ui_dialog_tests korva_edit_tests", ""),
    "plugin": ("boundary_tests stepwise_tests", "korva_tests"),
    "data": ("data_tests mat_tests fuzz_regression_tests", "korva_tests"),
    "recording": ("recording_tests", "korva_tests python"),
    "epoching": ("epoching_tests", "korva_tests python"),
    "online": ("online_tests", "korva_tests python"),
    "fieldtrip": ("fieldtrip_tests", "korva_tests python"),
    "report": ("report_tests", "korva_tests"),
    "sources": ("sources_tests", "korva_tests python"),
    "validation": ("validation_tests", "korva_tests python"),
    "cli": ("korva_edit_tests", "korva_tests"),
    "python": ("", "python"),
}

# What the random sample never mutates: folders and files that are not
# product code, and lines whose tokens cannot change what the product does
# (assertions compiled out, capacity hints).
NOT_PRODUCT = re.compile(r"^(tests|testing|bench|fuzz|examples|docs|scripts|"
                         r"cmake|build[^/]*)/|_test\.cpp$|/tests/|"
                         r"^ui/dialog_snapshot\.cpp$")
INERT_LINE = re.compile(r"static_assert|\bassert\(|\.reserve\(")
PURE = re.compile(r"\)\s*(const\s*)?=\s*0\s*;")

# One-token replacements; a comparison has two (the boundary moved, the
# sense turned). Binary operators are taken only between spaces, which in
# this code base tells them from templates, pointers, references and signs.
SWAPS = {
    "==": ["!="], "!=": ["=="], "<": ["<=", ">="], "<=": ["<", ">"],
    ">": [">=", "<="], ">=": [">", "<"], "&&": ["||"], "||": ["&&"],
    "+": ["-"], "-": ["+"], "*": ["/"], "/": ["*"], "+=": ["-="],
    "-=": ["+="], "*=": ["/="], "/=": ["*="],
    "true": ["false"], "false": ["true"], "True": ["False"],
    "False": ["True"], "and": ["or"], "or": ["and"],
}
CPP_TOKEN = re.compile(
    r"(?<=\s)(==|!=|<=|>=|<|>|&&|\|\||\+=|-=|\*=|/=|\+|-|\*|/)(?=\s)"
    r"|\b(true|false)\b"
    r"|(?<![\w.'])((?:\d+\.\d*|\.\d+|\d+)(?:[eE][-+]?\d+)?)([fFuUlL]*)(?![\w.'])")


def read_mutants(path):
    mutants, block = [], {}
    lines = Path(path).read_text(encoding="utf-8").splitlines() + [""]
    for number, line in enumerate(lines, 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            if block:
                missing = [k for k in KEYS if k not in block]
                if missing:
                    sys.exit(f"{path}:{number}: mutant lacks {', '.join(missing)}")
                mutants.append(block)
                block = {}
            continue
        key, colon, value = line.partition(":")
        if not colon or key not in KEYS or key in block:
            sys.exit(f"{path}:{number}: expected one of {', '.join(KEYS)}: VALUE")
        block[key] = value[1:] if value.startswith(" ") else value
    ids = [m["id"] for m in mutants]
    if len(set(ids)) != len(ids):
        sys.exit(f"{path}: duplicate mutant ids")
    return mutants


def run(command, log):
    """Runs command with its output appended to log; returns (status, output).
    The command and its children are killed if this process is interrupted."""
    log.write(f"$ {' '.join(command)}\n")
    log.flush()
    with subprocess.Popen(command, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True,
                          errors="replace", start_new_session=True) as child:
        try:
            output = child.communicate()[0]
        except BaseException:
            os.killpg(child.pid, signal.SIGKILL)
            child.wait()
            raise
    log.write(output)
    log.flush()
    return child.returncode, output


def build(build_dir, log, jobs):
    """Returns "built", "invalid" (the build failed) or "unused" (nothing
    to rebuild: the build does not use the changed file)."""
    status, output = run(["nice", "-n", "10", "ninja", "-C", str(build_dir),
                          "-j", str(jobs)], log)
    if status != 0:
        return "invalid"
    return "unused" if "ninja: no work to do" in output else "built"


def label_regex(labels):
    return "^(" + "|".join(re.escape(l) for l in labels) + ")$"


def test_stages(part):
    """The label sets to run in turn for a mutant of part; None: the rest."""
    unit, end_to_end = (s.split() for s in PART_TESTS.get(part, ("", "")))
    stages = [unit, [l for l in end_to_end if l not in unit]]
    return [s for s in stages if s] + [None]


def test(build_dir, log, jobs, timeout, part=None):
    """Runs the tests in stages (all at once without part); returns
    (passed, first failing test)."""
    done = []
    for labels in test_stages(part) if part else [None]:
        command = ["nice", "-n", "10", "ctest", "--test-dir", str(build_dir),
                   "-j", str(jobs), "--stop-on-failure", "--timeout",
                   str(timeout), "-E", TEST_EXCLUDE, "--no-tests=ignore"]
        if labels:
            command += ["-L", label_regex(labels)]
        elif done:
            command += ["-LE", label_regex(done)]
        status, output = run(command, log)
        if "No tests were found" in output and not labels and not done:
            raise RuntimeError(f"ctest found no tests in {build_dir}")
        if status != 0:
            failed = re.search(r"Test\s+#\d+: (\S+) [^\n]*\*\*\*(?!Skipped)",
                               output)
            return False, failed.group(1) if failed else "ctest failed"
        done += labels or []
    return True, ""


def part_of(file):
    return Path(file).parts[0]


def is_clean(checkout, file):
    return subprocess.run(["git", "-C", str(checkout), "diff", "--quiet",
                           "--", file]).returncode == 0


def blank_cpp(text):
    """text with its comments, string and character literals and
    preprocessor lines turned into spaces (newlines and offsets kept)."""
    out, i, n = list(text), 0, len(text)

    def blank(a, b):
        for k in range(a, min(b, n)):
            if out[k] != "\n":
                out[k] = " "

    line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            line_start, i = True, i + 1
            continue
        if line_start and c == "#":
            end = i
            while True:
                end = text.find("\n", end)
                if end < 0 or text[end - 1] != "\\":
                    break
                end += 1
            end = n if end < 0 else end
            blank(i, end)
            i = end
            continue
        if not c.isspace():
            line_start = False
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
        elif c == '"' and i > 0 and text[i - 1] == "R":
            delimiter = text[i + 1:text.index("(", i)]
            end = text.index(")" + delimiter + '"', i) + len(delimiter) + 2
        elif c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum())):
            end = i + 1
            while end < n and text[end] != c:
                end += 2 if text[end] == "\\" else 1
            end += 1
        else:
            i += 1
            continue
        blank(i, end)
        i = end
    return "".join(out)


def changed_number(literal, suffix, rng):
    """A number literal changed: 0 becomes 1, others one up or down (whole
    numbers) or doubled or halved (the rest)."""
    if re.fullmatch(r"0*\.?0*", literal):
        return ("1." if "." in literal else "1") + suffix
    if re.fullmatch(r"\d+", literal):
        return str(int(literal) + rng.choice((1, -1))) + suffix
    return repr(float(literal) * rng.choice((2, 0.5))) + suffix


def cpp_sites(text):
    """(offset, token) of each mutable token of C++ source text."""
    blanked = blank_cpp(text)
    lines = text.split("\n")
    sites = []
    for match in CPP_TOKEN.finditer(blanked):
        token, line = match.group(0), text.count("\n", 0, match.start())
        before = text[:match.start()].rstrip()[-1:]
        after = text[match.end():].lstrip()[:1]
        # + and += beside a string literal join strings; = 0 after a
        # declaration makes it pure: other tokens there do not compile.
        if (INERT_LINE.search(lines[line])
                or (token in ("+", "-", "+=") and '"' in (before, after))
                or (token == "0" and PURE.search(lines[line]))):
            continue
        sites.append((match.start(), token))
    return sites


def python_sites(text):
    """(offset, token) of each mutable token of Python source text; binary
    operators only between spaces, as in C++."""
    line_starts, offset = [], 0
    for line in text.split("\n"):
        line_starts.append(offset)
        offset += len(line) + 1
    sites = []
    for token in tokenize.generate_tokens(io.StringIO(text).readline):
        row, col = token.start
        where = line_starts[row - 1] + col
        around = text[where - 1:where] + text[where + len(token.string):
                                              where + len(token.string) + 1]
        if INERT_LINE.search(token.line):
            continue
        if token.type == tokenize.NUMBER and re.fullmatch(
                r"[\d.]+(?:[eE][-+]?\d+)?", token.string):
            sites.append((where, token.string))
        elif token.type == tokenize.NAME and token.string in (
                "True", "False", "and", "or"):
            sites.append((where, token.string))
        elif (token.type == tokenize.OP and token.string in SWAPS
              and len(around) == 2 and around.isspace()):
            sites.append((where, token.string))
    return sites


def product_files(checkout):
    listed = subprocess.run(["git", "-C", str(checkout), "ls-files"],
                            capture_output=True, text=True, check=True)
    return sorted(f for f in listed.stdout.splitlines()
                  if re.search(r"\.(cpp|h|py)$", f) and not NOT_PRODUCT.search(f))


def all_sites(checkout):
    """Every (file, offset, token) the random sample draws from."""
    sites = []
    for file in product_files(checkout):
        text = (checkout / file).read_text(encoding="utf-8")
        found = python_sites(text) if file.endswith(".py") else cpp_sites(text)
        sites += [(file, offset, token) for offset, token in found]
    return sites


def random_mutants(checkout, seed):
    """The random sample in drawing order, without end; each is tried until
    enough were tested."""
    sites = all_sites(checkout)
    rng = random.Random(seed)
    rng.shuffle(sites)
    for number, (file, offset, token) in enumerate(sites, 1):
        match = CPP_TOKEN.fullmatch(token)
        if match and match.group(3):
            to = changed_number(match.group(3), match.group(4), rng)
        else:
            to = rng.choice(SWAPS[token])
        text = (checkout / file).read_text(encoding="utf-8")
        line = text.count("\n", 0, offset) + 1
        source = text.split("\n")[line - 1].strip()
        yield {"id": f"r{number}", "file": file, "offset": offset,
               "from": token, "to": to, "line": line, "source": source,
               "why": f"line {line}: {token} -> {to} in: {source}"}


def mutated(mutant, original):
    """The file's text with the mutant applied, or (None, why it is stale)."""
    if "offset" in mutant:
        text, at = original.decode("utf-8"), mutant["offset"]
        if text[at:at + len(mutant["from"])] != mutant["from"]:
            return None, "the file changed since the draw"
        return (text[:at] + mutant["to"] + text[at + len(mutant["from"]):]
                ).encode("utf-8"), ""
    count = original.count(mutant["from"].encode())
    if count != 1:
        return None, f"snippet found {count} times"
    return original.replace(mutant["from"].encode(),
                            mutant["to"].encode(), 1), ""


def try_mutant(mutant, checkout, build_dir, log, args):
    """Returns (status, first failing test)."""
    path = checkout / mutant["file"]
    if not path.is_file():
        return "stale", "no such file"
    original = path.read_bytes()
    changed, why = mutated(mutant, original)
    if changed is None:
        return "stale", why
    try:
        path.write_bytes(changed)
        built = build(build_dir, log, args.jobs)
        if built != "built":
            return built, ""
        passed, failed = test(build_dir, log, args.jobs, args.timeout,
                              part_of(mutant["file"]))
        return ("survived", "") if passed else ("killed", failed)
    finally:
        path.write_bytes(original)
        if not is_clean(checkout, mutant["file"]):
            sys.exit(f"{path} differs from git after restoring it; stopping")


COLUMNS = ("id", "file", "status", "seconds", "failing test", "mutation")


def write_table(out, rows):
    with open(out, "w", encoding="utf-8") as table:
        table.write("\t".join(COLUMNS) + "\n")
        for row in rows.values():
            table.write("\t".join(row) + "\n")


def parse_args():
    here = Path(__file__).resolve().parent
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="See the module's docstring for how to run a random sample.")
    parser.add_argument("checkout", type=Path, help="source checkout")
    parser.add_argument("build", type=Path, help="its configured build folder")
    parser.add_argument("--mutants", type=Path, default=here / "mutants.txt")
    parser.add_argument("--only", help="comma-separated mutant ids")
    parser.add_argument("--random", type=int, metavar="N",
                        help="test N mutants drawn at random instead of the list")
    parser.add_argument("--seed", type=int, default=1,
                        help="the random sample's seed (default 1)")
    parser.add_argument("--list", action="store_true",
                        help="with --random: print the first N drawn, build nothing")
    parser.add_argument("--jobs", type=int, default=1,
                        help="build jobs and tests at once (default 1)")
    parser.add_argument("--timeout", type=int, default=300,
                        help="seconds a test may take before it counts as "
                        "failed (default 300; tests with their own keep it)")
    parser.add_argument("--out", type=Path, help="TSV of the results; with "
                        "--only, rows of other mutants already in it are kept")
    parser.add_argument("--log", type=Path,
                        help="build and test output (default BUILD/mutants.log)")
    parser.add_argument("--no-baseline", action="store_true",
                        help="skip the check that the unmutated tree passes")
    return parser.parse_args()


def choose(mutants, only, checkout):
    """The mutants --only names (all without it); exits on an unknown id or
    a chosen file with local changes, which the restore would lose."""
    chosen = mutants
    if only:
        wanted = only.split(",")
        unknown = set(wanted) - {m["id"] for m in mutants}
        if unknown:
            sys.exit(f"unknown mutant ids: {', '.join(sorted(unknown))}")
        chosen = [m for m in mutants if m["id"] in wanted]
    dirty = sorted({m["file"] for m in chosen
                    if (checkout / m["file"]).is_file()
                    and not is_clean(checkout, m["file"])})
    if dirty:
        sys.exit("local changes in " + ", ".join(dirty) + "; commit or stash")
    return chosen


def earlier_rows(out, only):
    """The rows of an earlier results table that a run of some mutants keeps."""
    rows = {}
    if out and only and out.exists():
        for line in out.read_text(encoding="utf-8").splitlines()[1:]:
            fields = line.split("\t")
            rows[fields[0]] = fields
    return rows


def run_mutants(chosen, wanted, rows, checkout, build_dir, log, args):
    """Tries the chosen mutants in turn into rows (and the table at --out)
    until wanted of them were tested (built and run), then rebuilds the
    restored tree, also when interrupted. A mutant that does not build, or
    whose file the build does not use, counts only when wanted is None."""
    tested = 0
    try:
        for m in chosen:
            if wanted is not None and tested == wanted:
                break
            log.write(f"\n===== {m['id']}: {m['file']}: {m['why']}\n")
            start = time.monotonic()
            status, failed = try_mutant(m, checkout, build_dir, log, args)
            seconds = f"{time.monotonic() - start:.0f}"
            where = f"{m['file']}:{m['line']}" if "line" in m else m["file"]
            if wanted is not None and status in ("invalid", "unused"):
                print(f"      {m['id']:6} {where}: {m['from']} -> {m['to']}: "
                      f"{'does not compile' if status == 'invalid' else 'not built'}, "
                      "dropped", flush=True)
                continue
            tested += 1
            rows[m["id"]] = [m["id"], where, status, seconds, failed, m["why"]]
            total = wanted or len(chosen)
            print(f"[{tested}/{total}] {m['id']:28} {status:9} {seconds:>4} s  "
                  f"{where} {failed}", flush=True)
            if args.out:
                write_table(args.out, rows)
    finally:
        log.write("\n===== rebuilding the restored tree\n")
        print("rebuilding the restored tree", flush=True)
        if build(build_dir, log, args.jobs) == "invalid":
            print(f"warning: the restored tree does not build; see {log.name}")


def print_summary(rows):
    counts = {}
    for row in rows.values():
        counts[row[2]] = counts.get(row[2], 0) + 1
    print("\n" + ", ".join(f"{counts.get(s, 0)} {s}" for s in
                           ("killed", "survived", "invalid", "stale")))
    for row in rows.values():
        if row[2] != "killed":
            print(f"  {row[2]:9} {row[0]:8} {row[1]}: {row[5]}")


def main():
    args = parse_args()
    checkout, build_dir = args.checkout.resolve(), args.build.resolve()
    # A SIGTERM or SIGHUP unwinds like Ctrl-C, through the restoring finally.
    for s in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, signal.default_int_handler)
    if args.random:
        chosen = random_mutants(checkout, args.seed)
        if args.list:
            for m, _ in zip(chosen, range(args.random)):
                print(f"{m['id']:6} {m['file']}:{m['line']}: {m['why']}")
            return
        dirty = subprocess.run(["git", "-C", str(checkout), "status",
                                "--porcelain", "--untracked-files=no"],
                               capture_output=True, text=True).stdout
        if dirty:
            sys.exit("local changes in the checkout; commit or stash them")
        rows = {}
    else:
        chosen = choose(read_mutants(args.mutants), args.only, checkout)
        rows = earlier_rows(args.out, args.only)
    log_path = args.log or build_dir / "mutants.log"
    with open(log_path, "w", encoding="utf-8") as log:
        if not args.no_baseline:
            print("baseline: building and testing the unmutated tree", flush=True)
            if (build(build_dir, log, args.jobs) == "invalid"
                    or not test(build_dir, log, args.jobs, args.timeout)[0]):
                sys.exit(f"the unmutated tree does not build or pass; see {log_path}")
        started = time.monotonic()
        run_mutants(chosen, args.random, rows, checkout, build_dir, log, args)
    print_summary(rows)
    print(f"{(time.monotonic() - started) / 60:.0f} minutes"
          + (f"; random sample of {args.random}, seed {args.seed}"
             if args.random else ""))


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted; every mutated file was restored")
