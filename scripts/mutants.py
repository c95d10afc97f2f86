#!/usr/bin/env python3
"""Mutation testing of the test suite.

For each mutant of mutants.txt (beside this script, or --mutants FILE): check
that its snippet occurs exactly once in its file, apply it, rebuild everything
and run the tests. A mutant is "killed" when the tests fail, "survived" when
they pass, "invalid" when the build fails and "stale" when its snippet is not
found exactly once. The file is always restored, and the tree rebuilt at the
end.

    scripts/mutants.py CHECKOUT BUILD [--only ID,...] [--out results.tsv]
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

KEYS = ("id", "file", "from", "to", "why")
TEST_EXCLUDE = "install_and_build_example"


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


def build(build_dir, log):
    return run(["nice", "-n", "10", "ninja", "-C", str(build_dir)], log)[0] == 0


def test(build_dir, log):
    status, output = run(["nice", "-n", "10", "ctest", "--test-dir",
                          str(build_dir), "-j2", "--stop-on-failure",
                          "--timeout", "300", "-E", TEST_EXCLUDE], log)
    if "No tests were found" in output:
        raise RuntimeError(f"ctest found no tests in {build_dir}")
    failed = re.search(r"Test\s+#\d+: (\S+) [^\n]*\*\*\*(?!Skipped)",
                       output)
    return status == 0, failed.group(1) if failed else ""


def is_clean(checkout, file):
    return subprocess.run(["git", "-C", str(checkout), "diff", "--quiet",
                           "--", file]).returncode == 0


def try_mutant(mutant, checkout, build_dir, log):
    """Returns (status, first failing test)."""
    path = checkout / mutant["file"]
    if not path.is_file():
        return "stale", "no such file"
    original = path.read_bytes()
    count = original.count(mutant["from"].encode())
    if count != 1:
        return "stale", f"snippet found {count} times"
    try:
        path.write_bytes(original.replace(mutant["from"].encode(),
                                          mutant["to"].encode(), 1))
        if not build(build_dir, log):
            return "invalid", ""
        passed, failed = test(build_dir, log)
        return ("survived", "") if passed else ("killed", failed)
    finally:
        path.write_bytes(original)
        if not is_clean(checkout, mutant["file"]):
            sys.exit(f"{path} differs from git after restoring it; stopping")


def write_table(out, mutants, rows):
    with open(out, "w", encoding="utf-8") as table:
        table.write("id\tfile\tstatus\tseconds\tfailing test\n")
        for m in mutants:
            if m["id"] in rows:
                table.write("\t".join(rows[m["id"]]) + "\n")


def parse_args():
    here = Path(__file__).resolve().parent
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("checkout", type=Path, help="source checkout")
    parser.add_argument("build", type=Path, help="its configured build folder")
    parser.add_argument("--mutants", type=Path, default=here / "mutants.txt")
    parser.add_argument("--only", help="comma-separated mutant ids")
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


def run_mutants(chosen, mutants, rows, checkout, build_dir, log, out):
    """Tries each chosen mutant in turn into rows (and the table at out), then
    rebuilds the restored tree, also when interrupted."""
    try:
        for number, m in enumerate(chosen, 1):
            log.write(f"\n===== {m['id']}: {m['file']}: {m['why']}\n")
            start = time.monotonic()
            status, failed = try_mutant(m, checkout, build_dir, log)
            seconds = f"{time.monotonic() - start:.0f}"
            rows[m["id"]] = [m["id"], m["file"], status, seconds, failed]
            print(f"[{number}/{len(chosen)}] {m['id']:28} {status:9} "
                  f"{seconds:>4} s  {failed}", flush=True)
            if out:
                write_table(out, mutants, rows)
    finally:
        log.write("\n===== rebuilding the restored tree\n")
        print("rebuilding the restored tree", flush=True)
        if not build(build_dir, log):
            print(f"warning: the restored tree does not build; see {log.name}")


def print_summary(mutants, rows):
    by_id = {m["id"]: m for m in mutants}
    counts = {}
    for row in rows.values():
        counts[row[2]] = counts.get(row[2], 0) + 1
    print("\n" + ", ".join(f"{counts.get(s, 0)} {s}" for s in
                           ("killed", "survived", "invalid", "stale")))
    for row in rows.values():
        if row[2] != "killed" and row[0] in by_id:
            print(f"  {row[2]:9} {row[0]:28} {row[1]}: {by_id[row[0]]['why']}")


def main():
    args = parse_args()
    checkout, build_dir = args.checkout.resolve(), args.build.resolve()
    # A SIGTERM or SIGHUP unwinds like Ctrl-C, through the restoring finally.
    for s in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, signal.default_int_handler)
    mutants = read_mutants(args.mutants)
    chosen = choose(mutants, args.only, checkout)
    rows = earlier_rows(args.out, args.only)
    log_path = args.log or build_dir / "mutants.log"
    with open(log_path, "w", encoding="utf-8") as log:
        if not args.no_baseline:
            print("baseline: building and testing the unmutated tree", flush=True)
            if not build(build_dir, log) or not test(build_dir, log)[0]:
                sys.exit(f"the unmutated tree does not build or pass; see {log_path}")
        run_mutants(chosen, mutants, rows, checkout, build_dir, log, args.out)
    print_summary(mutants, rows)


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted; every mutated file was restored")
