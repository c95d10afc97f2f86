"""Speed of korva epochs against the same pipeline in Python (MNE's EDF
reader or pandas for the headset CSV, SciPy's butter and sosfiltfilt, numpy
bin means), on a consumer-headset calibration session.

    PYTHONPATH=build/python /usr/bin/python3 bench/epochs_bench.py [BUILD_DIR [REPEATS]]

The session: six runs of 2 minutes with a flash every 83 ms (12 events a
second, one target in six: 1440 epochs a run, 8640 in all), for two
headsets: 14 channels at 256 Hz and 32 channels at 512 Hz, each written as
EDF+ (annotations "1" and "2") and as the headset CSV (a time column, the
channels, a marker column). The recipe is korva's default: 0.5-30 Hz order
4, 20 bins from 0 to about 800 ms.

"whole process" runs `korva epochs RUN1 ... RUN6 --output FILE.csv` and
`python3 epochs_bench.py --pipeline RUN1 ... RUN6 FILE.csv` (imports,
reading, filtering, cutting and the CSV file) as fresh processes;
"extraction" times, in one process, korva.extract_epochs (the same C++
code) against the Python pipeline's reading, filtering and cutting, and
korva.read_recording of every run, korva's reading alone. A last
table times the band-pass alone on one long channel against sosfiltfilt.
Each figure is the median of REPEATS runs (default 5) after one warm-up
run; the tables are Markdown for docs/performance.md.
"""

import ctypes
import math
import os
import statistics
import subprocess
import sys
import tempfile
import time

RUNS, SECONDS, EVENT_STEP_S = 6, 120, 1 / 12
HEADSETS = [(14, 256), (32, 512)]


def session(channels, fs, seed):
    """Samples (channels x n, microvolts) and events (sample, code) of a run."""
    import numpy as np

    rng = np.random.default_rng(seed)
    n = SECONDS * fs
    t = np.arange(n) / fs
    data = (np.cumsum(rng.normal(0, 0.5, (channels, n)), axis=1)
            + 10 * np.sin(2 * np.pi * 10 * t) + rng.normal(0, 8, (channels, n)))
    onsets = np.arange(fs // 2, n - fs, EVENT_STEP_S * fs).round().astype(int)
    codes = np.where(rng.random(len(onsets)) < 1 / 6, 2, 1)
    return data, list(zip(onsets, codes))


def write_edf(path, data, events, fs):
    """EDF+ through EDFlib: 1-second records, 16-bit samples of 0.1 uV."""
    lib = ctypes.CDLL("libedf.so.1")
    channels, n = data.shape
    h = lib.edfopen_file_writeonly(path.encode(), 1, channels)
    assert h >= 0, h
    # One annotation signal holds one event per record: 12 a second.
    assert lib.edf_set_number_of_annotation_signals(h, 16) == 0
    for s in range(channels):
        lib.edf_set_samplefrequency(h, s, fs)
        lib.edf_set_physical_maximum(h, s, ctypes.c_double(3276.7))
        lib.edf_set_physical_minimum(h, s, ctypes.c_double(-3276.8))
        lib.edf_set_digital_maximum(h, s, 32767)
        lib.edf_set_digital_minimum(h, s, -32768)
        lib.edf_set_label(h, s, f"E{s + 1}".encode())
        lib.edf_set_physical_dimension(h, s, b"uV")
    digital = (data * 10).round().clip(-32768, 32767).astype("int32")
    for second in range(n // fs):
        for s in range(channels):
            block = digital[s, second * fs:(second + 1) * fs]
            buffer = (ctypes.c_int * fs)(*block.tolist())
            assert lib.edfwrite_digital_samples(h, buffer) == 0
    for onset, code in events:
        # onsets in units of 100 us
        lib.edfwrite_annotation_utf8(h, ctypes.c_longlong(round(onset / fs * 10000)),
                                     ctypes.c_longlong(-1), str(code).encode())
    assert lib.edfclose_file(h) == 0


def write_csv(path, data, events, fs):
    import numpy as np
    import pandas as pd

    frame = pd.DataFrame(data.T.round(3), columns=[f"E{s + 1}" for s in range(len(data))])
    frame.insert(0, "Timestamp", (np.arange(data.shape[1]) / fs).round(6))
    markers = np.zeros(data.shape[1], dtype=int)
    for onset, code in events:
        markers[onset] = code
    frame["Marker"] = markers
    frame.to_csv(path, index=False)


def read_run(path):
    """(microvolts channels x n, fs, onsets, labels) as the Python pipeline
    reads a run."""
    import numpy as np

    if path.endswith(".edf"):
        import mne

        raw = mne.io.read_raw_edf(path, preload=True, verbose="error")
        events, ids = mne.events_from_annotations(raw, event_id={"1": -1, "2": 1}, verbose="error")
        return raw.get_data() * 1e6, raw.info["sfreq"], events[:, 0], events[:, 2]
    import pandas as pd

    frame = pd.read_csv(path)
    markers = frame.pop("Marker").to_numpy()
    time_s = frame.pop("Timestamp").to_numpy()
    fs = round(1 / np.median(np.diff(time_s)))
    onsets = np.flatnonzero(markers)
    return frame.to_numpy().T, fs, onsets, np.where(markers[onsets] == 2, 1, -1)


def pipeline(paths):
    """The default recipe in Python: features, labels, runs."""
    import numpy as np
    from scipy import signal

    X, y, runs = [], [], []
    for run, path in enumerate(paths, 1):
        data, fs, onsets, labels = read_run(path)
        sos = signal.butter(4, (0.5, 30), btype="bandpass", fs=fs, output="sos")
        data = signal.sosfiltfilt(sos, data, axis=-1)
        # korva rounds halves away from zero; Python's round() to even
        width = max(1, math.floor(round(800 * fs / 1000) / 20 + 0.5))
        keep = onsets + 20 * width <= data.shape[1]
        onsets, labels = onsets[keep], labels[keep]
        windows = data[:, onsets[:, None] + np.arange(20 * width)]  # C x E x L
        bins = windows.reshape(len(data), len(onsets), 20, width).mean(axis=3)
        X.append(bins.transpose(1, 0, 2).reshape(len(onsets), -1))
        y.append(labels)
        runs.append(np.full(len(onsets), run))
    return np.vstack(X), np.concatenate(y), np.concatenate(runs)


def run_pipeline(paths, output):
    import pandas as pd

    X, y, runs = pipeline(paths)
    channels = X.shape[1] // 20
    names = [f"E{c + 1}_{b + 1:02d}" for c in range(channels) for b in range(20)]
    frame = pd.DataFrame(X, columns=names)
    frame.insert(0, "run", runs)
    frame.insert(0, "label", y)
    frame.to_csv(output, index=False)


def median_seconds(function, repeats):
    function()
    seconds = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        seconds.append(time.perf_counter() - start)
    return statistics.median(seconds)


def row(work, build, kind, channels, fs, repeats):
    import numpy as np

    import korva

    paths = []
    for k in range(RUNS):
        data, events = session(channels, fs, seed=k)
        path = os.path.join(work, f"run{k + 1}.{kind}")
        (write_edf if kind == "edf" else write_csv)(path, data, events, fs)
        paths.append(path)
    megabytes = sum(os.path.getsize(p) for p in paths) / 1e6
    korva_cmd = [os.path.join(build, "korva"), "epochs", *paths, "--output",
                 os.path.join(work, "korva.csv"), "--target-events", "2", "--nontarget-events", "1", "--quiet"]
    python_cmd = [sys.executable, __file__, "--pipeline", *paths, os.path.join(work, "python.csv")]
    korva_whole = median_seconds(lambda: subprocess.run(korva_cmd, check=True), repeats)
    python_whole = median_seconds(lambda: subprocess.run(python_cmd, check=True), repeats)
    extract = lambda: korva.extract_epochs(paths, target=2, non_target=1)
    korva_in = median_seconds(extract, repeats)
    reading = median_seconds(lambda: [korva.read_recording(p) for p in paths], repeats)
    python_in = median_seconds(lambda: pipeline(paths), repeats)
    got, (X, y, _) = extract(), pipeline(paths)
    assert np.array_equal(got.labels, y), "the two pipelines kept different epochs"
    difference = np.max(np.abs(got.X - X)) / np.ptp(X)
    return (f"| {channels} x {fs} Hz, {kind.upper()} | {megabytes:.0f} MB | {len(y)} x {X.shape[1]} "
            f"| {korva_whole:.2f} s | {python_whole:.2f} s | {python_whole / korva_whole:.1f}x "
            f"| {korva_in:.3f} s | {reading:.3f} s | {python_in:.3f} s | {python_in / korva_in:.1f}x "
            f"| {difference:.0e} |")


def filter_row(repeats):
    """One channel of 2 hours at 2048 Hz through the default band-pass."""
    import numpy as np
    from scipy import signal

    from korva import _korva

    x = np.cumsum(np.random.default_rng(1).normal(0, 1, (2, 2 * 3600 * 2048)), axis=1)
    sos = signal.butter(4, (0.5, 30), btype="bandpass", fs=2048, output="sos")
    y = x.copy()
    # in place, in buffers already in memory, as extraction filters channels
    one = median_seconds(lambda: _korva.band_pass(y[0], 2048, (0.5, 30), 4), repeats)
    two = median_seconds(lambda: _korva.band_pass(y, 2048, (0.5, 30), 4), repeats) / 2
    scipy = median_seconds(lambda: signal.sosfiltfilt(sos, x[0]), repeats)
    return (f"| 2 h at 2048 Hz ({x.shape[1] / 1e6:.1f} M samples), 0.5-30 Hz order 4 "
            f"| {one:.2f} s | {two:.2f} s | {scipy:.2f} s | {scipy / one:.1f}x | {scipy / two:.1f}x |")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    print(f"{os.cpu_count()} cores; load average {os.getloadavg()[0]:.2f} at the start; "
          f"median of {repeats} runs")
    print()
    print("| session (6 runs of 2 min) | files | epochs x features | korva epochs | Python pipeline "
          "| whole process | extract_epochs | korva's reading alone | Python read, filter, cut | extraction "
          "| largest difference / peak-to-peak |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for channels, fs in HEADSETS:
        for kind in ("edf", "csv"):
            with tempfile.TemporaryDirectory() as work:
                print(row(work, build, kind, channels, fs, repeats), flush=True)
    print()
    print("| one channel | korva, alone | korva, two at a time (per channel) | SciPy sosfiltfilt "
          "| SciPy / alone | SciPy / two at a time |")
    print("|---|---|---|---|---|---|")
    print(filter_row(repeats))


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--pipeline":
        run_pipeline(sys.argv[2:-1], sys.argv[-1])
    else:
        main()
