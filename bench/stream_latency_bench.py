#!/usr/bin/env python3
"""The latency of korva stream --source ft:// (docs/performance.md).

A simulated session of 32 channels at 2048 Hz, served by the test buffer
(build/tests/korva_ft_server) as 64 channels (the 32 and a renamed copy of
each) in real time, --chunk samples at a time, into korva stream with a
causal model of the 32. Per flash, two figures:
- korva's own (--timing): from the GET_DAT reply that completed the
  flash's window having been read to the flash's line being written;
- end to end: from the buffer sending that reply to this script reading
  the line from korva's standard output (both on the steady clock,
  CLOCK_MONOTONIC; korva writes a flash's line before it asks for the next
  samples, so the reply that completed it is the last one sent before the
  line), with the loopback transfer and this script's wake-up.
Also korva's processor time (user + system, from wait4) per second of EEG
streamed, its start (module and model) included.

    bench/stream_latency_bench.py [BUILD_DIR] [--seconds S] [--chunk N]
"""
import argparse
import bisect
import json
import os
import subprocess
import tempfile
import time
from pathlib import Path


def run(*command, cwd):
    subprocess.run([*map(str, command)], cwd=cwd, check=True)


def session(korva, folder, seconds):
    """Three runs at 2048 Hz; a causal model trained on the first two."""
    for k in (1, 2, 3):
        run(korva, "generate", "--output", f"run{k}.vhdr", "--seconds", seconds if k == 3 else 60, "--seed", k,
            "--channels", 32, "--rate", 2048, "--quiet", cwd=folder)
    run(korva, "train", "run1.vhdr", "run2.vhdr", "--target-events", 2, "--nontarget-events", 1, "--filter", "causal",
        "--model", "m.xml", "--quiet", cwd=folder)


def stream(korva, server, folder, chunk):
    """Streams run3 in real time; the lines' read times, the replies' send
    times (by last sample) and korva's processor seconds."""
    port = folder / "port"
    buffer = subprocess.Popen([server, "run3.vhdr", "--port-file", port, "--chunk", str(chunk), "--pace", "1",
                               "--channels", "64", "--log", "sent", "--lifetime", "600"], cwd=folder)
    while not port.exists():
        if buffer.poll() is not None:
            raise SystemExit("the test buffer did not start")
        time.sleep(0.01)
    scorer = subprocess.Popen([korva, "stream", "m.xml", "--source", f"ft://127.0.0.1:{port.read_text().strip()}",
                               "--quiet", "--timing"], cwd=folder, stdout=subprocess.PIPE, text=True, bufsize=1)
    lines, own = [], []
    for line in scorer.stdout:
        lines.append(time.monotonic_ns())
        own.append(json.loads(line)["latency_ms"])
    _, status, usage = os.wait4(scorer.pid, 0)
    buffer.wait(timeout=60)
    if status != 0:
        raise SystemExit("korva stream failed")
    sent = [int(t) for _, t in (line.split() for line in (folder / "sent").read_text().splitlines())]
    return lines, own, sent, usage.ru_utime + usage.ru_stime


def percentile(values, q):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(q * len(ordered)))]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--chunk", type=int, default=32)
    a = parser.parse_args()
    build = Path(a.build).resolve()
    korva, server = build / "korva", build / "tests" / "korva_ft_server"
    with tempfile.TemporaryDirectory() as work:
        folder = Path(work)
        session(korva, folder, a.seconds)
        lines, own, sent, cpu = stream(korva, server, folder, a.chunk)
    latency = [(t - sent[bisect.bisect_right(sent, t) - 1]) / 1e6 for t in lines]
    print(f"{len(latency)} flashes, 64 channels at 2048 Hz, chunks of {a.chunk} samples, {a.seconds} s in real time")
    for name, values in (("korva's own (--timing)", own), ("end to end", latency)):
        print(f"{name}: median {percentile(values, 0.5):.3f} ms, 99th percentile "
              f"{percentile(values, 0.99):.3f} ms, most {max(values):.3f} ms")
    print(f"korva's processor time: {cpu:.3f} s for {a.seconds} s of EEG = {100 * cpu / a.seconds:.2f} % of one core")


if __name__ == "__main__":
    main()
