"""korva.read_recording against MNE's readers on the same files. EDF+ and
BDF+ files are written by EDFlib (through ctypes), the others by the small
writers below; EDF+ and BDF+ files have a channel at another rate, the
plain BDF file a Status channel. EDF and BDF samples are also compared with
EDFlib's own, to the bit. korva epochs, train and score on recordings are
compared with the same recipe written out with MNE's readers and SciPy."""

import ctypes
import struct

import mne
import numpy as np
import pandas as pd
import pytest
from scipy import signal

import korva

mne.set_log_level("ERROR")
RATE, SECONDS, CHANNELS = 256, 4, ["Fz", "Cz", "Pz"]
N = RATE * SECONDS
RNG = np.random.default_rng(5)


def digital(low, high, channels=len(CHANNELS), n=N):
    return RNG.integers(low, high, size=(channels, n), endpoint=True)


def write_edflib(path, bdf):
    """EDF+ or BDF+ by EDFlib: three channels and a fourth at half the rate."""
    lib = ctypes.CDLL("libedf.so.1")
    top = 8388607 if bdf else 32767
    h = lib.edfopen_file_writeonly(str(path).encode(), 3 if bdf else 1, 4)
    assert h >= 0
    names = CHANNELS + ["Slow"]
    for s, name in enumerate(names):
        lib.edf_set_samplefrequency(h, s, RATE // (2 if name == "Slow" else 1))
        lib.edf_set_physical_maximum(h, s, ctypes.c_double(3000.0))
        lib.edf_set_physical_minimum(h, s, ctypes.c_double(-3000.0))
        lib.edf_set_digital_maximum(h, s, top)
        lib.edf_set_digital_minimum(h, s, -top - 1)
        lib.edf_set_label(h, s, name.encode())
        lib.edf_set_physical_dimension(h, s, b"uV")
    values = digital(-top - 1, top, 4)
    for second in range(SECONDS):
        for s, name in enumerate(names):
            n = RATE // (2 if name == "Slow" else 1)
            block = (ctypes.c_int * n)(*values[s, second * n:(second + 1) * n].tolist())
            assert lib.edfwrite_digital_samples(h, block) == 0
        # onsets in units of 100 us; 1.25 s at 256 Hz is sample 320 exactly
        lib.edfwrite_annotation_utf8(h, ctypes.c_longlong(second * 10000 + 1250),
                                     ctypes.c_longlong(-1), f"S {second}".encode())
    assert lib.edfclose_file(h) == 0
    return path


def write_plain_bdf(path):
    """Plain BDF with a Status channel: codes in the low 16 bits, amplifier
    bits above them."""
    labels, n = CHANNELS + ["Status"], len(CHANNELS) + 1
    status = np.zeros(N, dtype=np.int64)
    status[100:103], status[400:401], status[401:410], status[700:] = 3, 5, 7, 5
    status |= 1 << 20
    values = np.vstack([digital(-8388608, 8388607), status[None, :]])
    fields = [labels, ["Boolean" if l == "Status" else "uV" for l in labels],
              ["-8388608" if l == "Status" else "-262144" for l in labels],
              ["8388607" if l == "Status" else "262143" for l in labels],
              ["-8388608"] * n, ["8388607"] * n]
    head = (b"\xffBIOSEMI" + b" " * 160 + b"01.01.24" + b"00.00.00"
            + f"{256 * (n + 1):<8}{'24BIT':<44}{SECONDS:<8}{1:<8}{n:<4}".encode())
    for size, column in zip((16, 8, 8, 8, 8, 8), fields):
        head += b"".join(f"{v:<{size}}".encode() for v in column)
        if size == 16:
            head += b" " * 80 * n
    head += b" " * 80 * n + f"{RATE:<8}".encode() * n + b" " * 32 * n
    records = np.ascontiguousarray(values.reshape(n, SECONDS, RATE).transpose(1, 0, 2), "<i4")
    body = records.view(np.uint8).reshape(-1, 4)[:, :3].tobytes()
    path.write_bytes(head + body)
    return path


def write_gdf(path, version, code, mode):
    """GDF 1.25 or 2.10, `code` the sample type (3 int16, 16 float32), one
    record per second, events of table mode 1 or 3 (positions from 1)."""
    n, two = len(CHANNELS), version >= 2
    dtype, dmax = ("<i2", 32767.0) if code == 3 else ("<f4", 1e4)
    values = digital(-32768, 32767).astype(dtype) if code == 3 else RNG.normal(0, 50, (n, N)).astype(dtype)
    fixed = bytearray(256)
    fixed[:8] = b"GDF 2.10" if two else b"GDF 1.25"
    fixed[184:192] = struct.pack("<H6x", n + 1) if two else struct.pack("<q", 256 * (n + 1))
    fixed[236:256] = struct.pack("<qII", SECONDS, 1, 1) + (struct.pack("<HH", n, 0) if two else struct.pack("<I", n))
    pmin, pmax = (-3276.8, 3276.7) if code == 3 else (-1e4, 1e4)
    variable = b"".join(f"{c:<16}".encode() for c in CHANNELS) + b" " * 80 * n
    if two:
        variable += b"uV    " * n + struct.pack(f"<{n}H", *[4275] * n)
        variable += struct.pack(f"<{4 * n}d", *[pmin] * n, *[pmax] * n, *[-dmax - (code == 3)] * n, *[dmax] * n)
        variable += b" " * 68 * n + bytes(12 * n)
    else:
        variable += b"uV      " * n + struct.pack(f"<{2 * n}d{2 * n}q", *[pmin] * n, *[pmax] * n,
                                                  *[int(-dmax) - (code == 3)] * n, *[int(dmax)] * n)
        variable += b" " * 80 * n
    variable += struct.pack(f"<{2 * n}i", *[RATE] * n, *[code] * n) + bytes(32 * n)
    positions, types = [1, 257, 513, 900], [0x300, 0x301, 0x8300, 0x300]
    table = bytes([mode]) + (struct.pack("<I", len(positions))[:3] + struct.pack("<f", RATE) if two
                             else struct.pack("<I", RATE)[:3] + struct.pack("<I", len(positions)))
    table += struct.pack(f"<{len(positions)}I{len(types)}H", *positions, *types)
    if mode == 3:
        table += struct.pack(f"<{len(types)}H{len(types)}I", *[0] * len(types), *[1] * len(types))
    records = values.reshape(n, SECONDS, RATE).transpose(1, 0, 2)
    path.write_bytes(bytes(fixed) + variable + records.tobytes() + table)
    return path


def write_brainvision(path, binary, orientation):
    """A .vhdr, .vmrk and .eeg set; the third channel in millivolts."""
    dtype, resolution = ("<i2", 0.5) if binary == "INT_16" else ("<f4", 1.0)
    values = digital(-32768, 32767).astype(dtype) if binary == "INT_16" else RNG.normal(0, 9, (3, N)).astype(dtype)
    data = values if orientation == "VECTORIZED" else values.T
    path.with_suffix(".eeg").write_bytes(np.ascontiguousarray(data).tobytes())
    units = ["µV", "µV", "mV"]
    channels = "".join(f"Ch{i + 1}={c},,{resolution},{u}\n" for i, (c, u) in enumerate(zip(CHANNELS, units)))
    path.write_text("Brain Vision Data Exchange Header File Version 1.0\n[Common Infos]\nCodepage=UTF-8\n"
                    f"DataFile={path.stem}.eeg\nMarkerFile={path.stem}.vmrk\nDataFormat=BINARY\n"
                    f"DataOrientation={orientation}\nNumberOfChannels=3\nSamplingInterval=3906.25\n"
                    f"[Binary Infos]\nBinaryFormat={binary}\n[Channel Infos]\n{channels}", encoding="utf-8")
    markers = ["New Segment,,1,1,0,20240101000000000000", "Stimulus,S  1,101,1,0",
               "Response,R  2,513,1,0", "Stimulus,S\\1 3,900,1,0"]
    path.with_suffix(".vmrk").write_text(
        "Brain Vision Data Exchange Marker File, Version 1.0\n[Marker Infos]\n"
        + "".join(f"Mk{i + 1}={m}\n" for i, m in enumerate(markers)), encoding="utf-8")
    return path


def mne_events(raw):
    return [(int(raw.time_as_index(a["onset"], use_rounding=True)[0]), a["description"])
            for a in raw.annotations]


def status_events(raw):
    found = mne.find_events(raw, stim_channel="Status", consecutive=True, shortest_event=1,
                            initial_event=True, mask=0xFFFF, mask_type="and")
    return [(int(s), str(code)) for s, _, code in found]


# name, writer, MNE reader, MNE's events, how far apart samples may be
# (integer formats: a millionth of a step; float formats: relative 1e-6)
CASES = {
    "EDF+": (lambda p: write_edflib(p / "a.edf", False), mne.io.read_raw_edf, mne_events, 6000 / 65535e6, 0),
    "BDF+": (lambda p: write_edflib(p / "a.bdf", True), mne.io.read_raw_bdf, mne_events, 6000 / 16777215e6, 0),
    "BDF": (lambda p: write_plain_bdf(p / "a.bdf"), mne.io.read_raw_bdf, status_events, 524287 / 16777215e6, 0),
    "GDF 1": (lambda p: write_gdf(p / "a.gdf", 1, 3, 1), mne.io.read_raw_gdf, mne_events, 0.1e-6, 0),
    "GDF 2": (lambda p: write_gdf(p / "a.gdf", 2, 16, 3), mne.io.read_raw_gdf, mne_events, 0, 1e-6),
    "BrainVision INT_16 multiplexed": (lambda p: write_brainvision(p / "a.vhdr", "INT_16", "MULTIPLEXED"),
                                       mne.io.read_raw_brainvision, mne_events, 0.5e-6, 0),
    "BrainVision IEEE_FLOAT_32 vectorized": (lambda p: write_brainvision(p / "a.vhdr", "IEEE_FLOAT_32", "VECTORIZED"),
                                             mne.io.read_raw_brainvision, mne_events, 0, 1e-6),
}


@pytest.mark.parametrize("name", CASES)
def test_samples_and_events_are_those_mne_reads(name, tmp_path):
    write, read_mne, events_of, atol, rtol = CASES[name]
    path = write(tmp_path)
    got, raw = korva.read_recording(path), read_mne(path, preload=True)
    assert got.format == name.split()[0] + (" " + name.split()[1] if name.startswith("GDF") else "")
    assert got.sfreq == raw.info["sfreq"] == RATE and got.data.shape[1] == raw.n_times == N
    status = got.ch_names[-1] == "Status"
    assert got.ch_names == CHANNELS + ["Status"] * status
    assert got.eeg == [True] * 3 + [False] * status and got.units == ["uV"] * 3 + [""] * status
    np.testing.assert_allclose(got.data[:3], raw.get_data(picks=CHANNELS) * 1e6, rtol=rtol, atol=atol)
    if status:
        np.testing.assert_array_equal(got.data[3], raw.get_data(picks="Status")[0].astype(int) & 0xFFFF)
    assert got.events == events_of(raw) and len(got.events) >= 4
    assert got.notes == (["1 channel at another sampling rate than 256 Hz left out: Slow"]
                         if name.endswith("+") else [])


def clip_digital_range(path):
    """The plain BDF file with a digital range of +-4000000 for the EEG
    channels, narrower than their samples: EDFlib clips samples outside."""
    head, n = bytearray(path.read_bytes()), len(CHANNELS) + 1
    for c in range(len(CHANNELS)):
        low, high = 256 + 120 * n + 8 * c, 256 + 128 * n + 8 * c
        head[low:low + 8], head[high:high + 8] = b"-4000000", b"4000000 "
    path.write_bytes(bytes(head))
    return path


def edflib_samples(path, channels):
    """The first `channels` signals as EDFlib reads them record by record:
    physical samples, and the low 16 bits of a Status signal's digital ones."""
    lib = ctypes.CDLL("libedf.so.1")
    hdr = ctypes.create_string_buffer(1 << 18)  # an edf_hdr_struct, the handle first
    assert lib.edfopen_file_readonly(str(path).encode(), hdr, 2) == 0
    handle, rows = struct.unpack_from("<i", hdr.raw)[0], []
    for s, name in enumerate(channels):
        status = name == "Status"
        buf = (ctypes.c_int if status else ctypes.c_double) * N
        values = buf()
        read = lib.edfread_digital_samples if status else lib.edfread_physical_samples
        assert read(handle, s, N, values) == N
        rows.append(np.array(values, dtype=np.int64) & 0xFFFF if status else np.array(values))
    assert lib.edfclose_file(handle) == 0
    return np.array(rows, dtype=float)


@pytest.mark.parametrize("name, edit", [("EDF+", None), ("BDF+", None), ("BDF", None), ("BDF", clip_digital_range)])
def test_edf_samples_are_edflibs_to_the_bit(name, edit, tmp_path):
    path = CASES[name][0](tmp_path)
    if edit:
        edit(path)
    got = korva.read_recording(path)
    np.testing.assert_array_equal(got.data, edflib_samples(path, got.ch_names))


def test_content_decides_over_the_extension(tmp_path):
    path = write_gdf(tmp_path / "a.gdf", 2, 3, 1).rename(tmp_path / "a.bdf")
    got = korva.read_recording(path)
    assert got.format == "GDF 2" and got.notes == ["read as GDF 2: the file is GDF, not BDF as its extension .bdf says"]


def write_csv(path, header, rows, delimiter=","):
    path.write_text("%headset export\n" + delimiter.join(header) + "\n"
                    + "".join(delimiter.join(map(str, r)) + "\n" for r in rows))
    return path


@pytest.mark.parametrize("marker, rate, step, sfreq", [
    ("Marker", None, 1.003 / 128, 127.617),  # the time column's rate, 0.3 % off 128 Hz
    ("Trigger", 500.0, 1 / 250, 500),  # the rate given wins
])
def test_headset_csv_codes_are_marker_onsets(tmp_path, marker, rate, step, sfreq):
    values = RNG.normal(0, 20, (N, 2)).round(3)
    markers = np.zeros(N, dtype=int)
    markers[[5, 6, 7, 300, 301]] = [2, 2, 2, 1, 3]
    time = np.arange(N) * step + RNG.uniform(0, step / 20, N)
    rows = [[f"{t:.6f}", *v, m] for t, v, m in zip(time, values, markers)]
    path = write_csv(tmp_path / "h.csv", ["Timestamp", "AF3", "T7", marker], rows)
    got = korva.read_recording(path, marker_column=None if marker == "Marker" else marker, sampling_rate=rate)
    assert got.format == "headset CSV" and got.sfreq == pytest.approx(sfreq, abs=2e-3)
    assert got.ch_names == ["AF3", "T7", marker] and got.eeg == [True, True, False]
    np.testing.assert_array_equal(got.data[:2], values.T)
    np.testing.assert_array_equal(got.data[2], markers)
    assert got.events == [(5, "2"), (300, "1"), (301, "3")]
    rate_note = f"sampling rate {got.sfreq:g} Hz, from the time column: a line through its {N} stamps"
    assert [n.startswith(rate_note) for n in got.notes] == [True] * (rate is None)
    assert got.types == ["", "", "TRIG"] and got.breaks == []


def test_bad_files_raise_value_error_and_missing_ones_file_not_found(tmp_path):
    with pytest.raises(FileNotFoundError):
        korva.read_recording(tmp_path / "none.edf")
    path = write_csv(tmp_path / "h.csv", ["Time", "Fz", "Marker"], [[0, 1, 0], [0.004, 2, 1]])
    with pytest.raises(ValueError, match="h.csv: no column is named \"Trig\""):
        korva.read_recording(path, marker_column="Trig")
    path = write_brainvision(tmp_path / "a.vhdr", "IEEE_FLOAT_32", "MULTIPLEXED")
    with pytest.raises(ValueError, match="a.vhdr is read as BrainVision, which gives its own sampling rate"):
        korva.read_recording(path, sampling_rate=500)
    samples = np.frombuffer(path.with_suffix(".eeg").read_bytes(), "<f4").copy()
    samples[3 * 7 + 2] = np.inf
    path.with_suffix(".eeg").write_bytes(samples.tobytes())
    with pytest.raises(ValueError, match=r"a.vhdr: channel 3 \(Pz\): sample 8 of 1024 \(at 0.027 s\) is \+infinity"):
        korva.read_recording(path)


def epochs_by_scipy(x, fs, events, target, non_target, window, bins, breaks=()):
    """The recipe with SciPy and numpy: 0.5-30 Hz Butterworth of order 4
    forward and backward over each part between `breaks`, the window (ms) cut
    at each listed event within one part, the means of its bins; rows in
    event order, channel-major columns."""
    sos = signal.butter(4, (0.5, 30), btype="bandpass", fs=fs, output="sos")
    bounds = [0, *breaks, x.shape[1]]
    x = np.hstack([signal.sosfiltfilt(sos, x[:, a:b]) for a, b in zip(bounds, bounds[1:])])
    start, end = (round(ms * fs / 1000) for ms in window)
    X, y = [], []
    for onset, code in events:
        if any(onset + start < b < onset + end for b in breaks):
            continue
        if code in target + non_target:
            X.append(x[:, onset + start:onset + end].reshape(len(x), bins, -1).mean(axis=2).ravel())
            y.append(1 if code in target else -1)
    return np.array(X), np.array(y)


def read_table(path):
    table = pd.read_csv(path, float_precision="round_trip")
    return table.drop(columns=["label", "run"]).to_numpy(), table["label"].to_numpy()


def headset_csv(tmp_path, gap=None):
    """A headset CSV recording at 256 Hz whose time jumps 2 s at row `gap`,
    and its samples and marker onsets."""
    values = RNG.normal(0, 20, (N, len(CHANNELS))).round(3)
    markers = np.zeros(N, dtype=int)
    markers[[5, 6, 300, 301, 570, 700]] = [2, 2, 1, 3, 1, 1]
    times = np.arange(N) / RATE + np.where(np.arange(N) >= (gap or N), 2, 0)
    rows = [[f"{t:.6f}", *v, m] for t, v, m in zip(times, values, markers)]
    path = write_csv(tmp_path / "h.csv", ["Time", *CHANNELS, "Marker"], rows)
    onsets = [k for k in range(N) if markers[k] and markers[k] != markers[k - 1]]
    return path, values.T, [(k, str(markers[k])) for k in onsets]


@pytest.mark.parametrize("name", [*CASES, "headset CSV", "headset CSV with a gap"])
def test_korva_epochs_are_the_scipy_recipe_on_mnes_samples(name, tmp_path, run_korva):
    breaks = [600] if name.endswith("gap") else []
    if name.startswith("headset CSV"):
        path, x, events = headset_csv(tmp_path, *breaks)
    else:
        write, read_mne, events_of = CASES[name][:3]
        path = write(tmp_path)
        raw = read_mne(path, preload=True)
        x, events = raw.get_data(picks=CHANNELS) * 1e6, events_of(raw)
    # the options' lists are separated by commas, so a code with one is left out
    codes = list(dict.fromkeys(code for _, code in events if "," not in code))
    target, non_target = codes[:1], codes[1:]
    X, y = epochs_by_scipy(x, RATE, events, target, non_target, (0, 250), 8, breaks)
    said = run_korva("epochs", path, "--output", "epochs.csv", "--channels", ",".join(CHANNELS),
                     "--target-events", *target, "--nontarget-events", ",".join(non_target),
                     "--window", "0,250", "--bins", 8)
    assert ("; at breaks 0 target, 1 non-target;" in said) == bool(breaks)
    got, labels = read_table(tmp_path / "epochs.csv")
    assert len(y) >= 3 and -1 in y
    np.testing.assert_array_equal(labels, y)
    np.testing.assert_allclose(got, X, rtol=1e-6, atol=1e-6 * np.abs(X).max())
    if breaks:
        with pytest.warns(korva.DataWarning, match=r"not continuous at 1 place \(the time column jumps 2.00391 s, from 2.340 s"):
            korva.extract_epochs(path, target=target, non_target=non_target)


def headset_export(tmp_path, vhdr):
    """The BrainVision session `vhdr` as a headset's CSV export: the time in
    seconds since 1970 at 256 Hz, rounded to whole milliseconds."""
    raw = korva.read_recording(tmp_path / vhdr)
    times = np.round((1.7e9 + np.arange(raw.data.shape[1]) / RATE) * 1000) / 1000
    markers = np.zeros(raw.data.shape[1], dtype=int)
    for sample, code in raw.events:
        markers[sample] = int(code[-1])
    rows = [[f"{t:.3f}", *(f"{v:.3f}" for v in values), m]
            for t, values, m in zip(times, raw.data.T, markers)]
    return write_csv(tmp_path / vhdr.replace(".vhdr", ".csv"), ["Timestamp", *raw.ch_names, "Marker"], rows)


def test_a_headset_stamping_whole_milliseconds_is_read_at_its_rate(tmp_path, run_korva):
    for seed in (1, 2):
        run_korva("generate", "--output", f"s{seed}.vhdr", "--seconds", 60, "--seed", seed)
        headset_export(tmp_path, f"s{seed}.vhdr")
    got = korva.read_recording(tmp_path / "s1.csv")
    assert got.sfreq == RATE and "stamps gives 256 Hz, give or take 0.051, and 256 lies within" in got.notes[0]
    run_korva("train", "s1.csv", "--target-events", 2, "--nontarget-events", 1, "--model", "m.xml")
    run_korva("score", "m.xml", "s2.csv", "--output", "csv.csv")
    run_korva("score", "m.xml", "s2.vhdr", "--output", "vhdr.csv")
    a, b = (pd.read_csv(tmp_path / f, float_precision="round_trip") for f in ("csv.csv", "vhdr.csv"))
    np.testing.assert_array_equal(a["label"], b["label"])
    # the export keeps three decimals of the float32 samples
    np.testing.assert_allclose(a["score"], b["score"], rtol=0, atol=1e-4)


def test_a_model_trained_on_recordings_scores_them_as_one_trained_on_scipys_table(tmp_path, run_korva):
    runs = []
    for seed in (1, 2):
        runs.append(f"run{seed}.vhdr")
        run_korva("generate", "--output", runs[-1], "--seconds", 40, "--seed", seed)
    X, y = [], []
    for path in runs:
        raw = mne.io.read_raw_brainvision(tmp_path / path, preload=True)
        Xr, yr = epochs_by_scipy(raw.get_data() * 1e6, RATE, mne_events(raw),
                                 ["Stimulus/S  2"], ["Stimulus/S  1"], (0, 781.25), 20)
        X.append(Xr)
        y.append(yr)
    names = [f"{c}_{b:02d}" for c in raw.ch_names for b in range(1, 21)]
    table = pd.DataFrame(np.vstack(X), columns=names)
    table.insert(0, "label", np.concatenate(y))
    table.to_csv(tmp_path / "table.csv", index=False, float_format="%.17g")

    recipe = ("--target-events", 2, "--nontarget-events", 1)
    run_korva("train", *runs, *recipe, "--model", "recordings.xml")
    run_korva("train", "table.csv", "--model", "table.xml")
    assert "recipe (korva score cuts" in run_korva("info", "recordings.xml")
    run_korva("score", "recordings.xml", *runs, "--output", "a.csv")
    run_korva("score", "table.xml", "table.csv", "--output", "b.csv")
    a, b = pd.read_csv(tmp_path / "a.csv"), pd.read_csv(tmp_path / "b.csv")
    assert list(a["recording"].unique()) == runs
    np.testing.assert_array_equal(a["label"], b["label"])
    np.testing.assert_allclose(a["score"], b["score"], rtol=1e-6, atol=1e-9)
    assert "(leave one recording out)" in run_korva("evaluate", *runs, *recipe, "--quiet", "--summary", "-")


def write_edf_plus(path, per_record, duration, records=4, claimed=None, flat=None):
    """EDF+C of CHANNELS and an annotation signal: each record stamped at
    k * per_record / RATE, an event "S k" half a second into record k; the
    header's duration field `duration`, its record count `claimed`, the
    physical range of channel `flat` zero."""
    labels, n = CHANNELS + ["EDF Annotations"], len(CHANNELS) + 1
    pmin = ["-3000" if l != flat else "0" for l in CHANNELS] + ["-1"]
    pmax = ["3000" if l != flat else "0" for l in CHANNELS] + ["1"]
    fields = [labels, [""] * n, ["uV"] * 3 + [""], pmin, pmax, ["-32768"] * n, ["32767"] * n, [""] * n,
              [per_record] * 3 + [30], [""] * n]
    head = f"{'0':<8}{'X X X X':<80}{'Startdate 01-JAN-2024 X X X':<80}01.01.2400.00.00{256 * (n + 1):<8}"
    head += f"{'EDF+C':<44}{records if claimed is None else claimed:<8}{duration:<8}{n:<4}"
    for size, column in zip((16, 80, 8, 8, 8, 8, 8, 80, 8, 32), fields):
        head += "".join(f"{v:<{size}}" for v in column)
    values, body = digital(-32768, 32767, n=per_record * records), b""
    for k in range(records):
        start = k * per_record / RATE
        tal = f"+{start}\x14\x14\x00+{start + 0.5}\x14S {k}\x14\x00".encode()
        body += values[:, k * per_record:(k + 1) * per_record].astype("<i2").tobytes() + tal.ljust(60, b"\0")
    path.write_bytes(head.encode() + body)
    return path


@pytest.mark.parametrize("edit, note", [
    (dict(per_record=394, duration="1.539062"), "the record duration 1.539062 s is 394 samples at 256 Hz (1.5390625 s)"),
    (dict(per_record=256, duration="1", flat="Cz"), "signal Cz: its physical minimum and maximum are both 0"),
    (dict(per_record=256, duration="1", claimed=6), "the header announces 6 records and the file holds 4 whole"),
])
def test_edf_files_edflib_refuses_are_read_as_mne_reads_them(edit, note, tmp_path):
    path = write_edf_plus(tmp_path / "a.edf", **edit)
    lib = ctypes.CDLL("libedf.so.1")
    assert lib.edfopen_file_readonly(str(path).encode(), ctypes.create_string_buffer(1 << 18), 2) != 0
    got, raw = korva.read_recording(path), mne.io.read_raw_edf(path, preload=True)
    assert got.format == "EDF+" and got.sfreq == RATE and abs(raw.info["sfreq"] / RATE - 1) < 1e-6
    assert got.data.shape[1] == raw.n_times == 4 * edit["per_record"]
    np.testing.assert_allclose(got.data, raw.get_data(picks=CHANNELS) * 1e6, rtol=1e-12, atol=1e-9)
    assert got.events == mne_events(raw) and len(got.events) == 4
    assert got.eeg == [name != edit.get("flat") for name in CHANNELS]
    assert any(n.startswith(note) for n in got.notes), got.notes


def write_bids(root):
    """Two subjects of one session, two runs each: BrainVision recordings
    whose own markers the events files replace (targets "target", value 2;
    the others "nontarget", 1; a row without an onset), Cz marked bad and Pz
    of type MISC. Returns each run's path and (sample, trial_type) events."""
    runs = []
    for sub in ("01", "02"):
        folder = root / f"sub-{sub}" / "ses-1" / "eeg"
        folder.mkdir(parents=True)
        for run in (1, 2):
            stem = folder / f"sub-{sub}_ses-1_task-p300_run-{run}"
            path = write_brainvision(stem.with_name(stem.name + "_eeg.vhdr"), "IEEE_FLOAT_32", "MULTIPLEXED")
            samples = sorted(RNG.choice(np.arange(10, N - 100), 16, replace=False))
            events = [(int(s), "target" if k % 4 == 0 else "nontarget") for k, s in enumerate(samples)]
            rows = "".join(f"{s / RATE}\t0\t{t}\t{2 if t == 'target' else 1}\n" for s, t in events)
            stem.with_name(stem.name + "_events.tsv").write_text(
                "onset\tduration\ttrial_type\tvalue\n" + rows + "n/a\t0\ttarget\t2\n")
            stem.with_name(stem.name + "_channels.tsv").write_text(
                "name\ttype\tunits\tstatus\nFz\tEEG\tµV\tgood\nCz\tEEG\tµV\tbad\nPz\tMISC\tmV\tgood\n")
            runs.append((path, events))
    return runs


def test_bids_runs_are_their_events_and_channels_files_read_with_mne(tmp_path, run_korva):
    runs = write_bids(tmp_path / "ds")
    X, y = [], []
    for path, events in runs:
        raw = mne.io.read_raw_brainvision(path, preload=True)
        tsv = pd.read_csv(str(path).replace("_eeg.vhdr", "_events.tsv"), sep="\t", na_values="n/a").dropna()
        placed = [(int(raw.time_as_index(o, use_rounding=True)[0]), t) for o, t in zip(tsv.onset, tsv.trial_type)]
        assert placed == events
        Xr, yr = epochs_by_scipy(raw.get_data(picks=["Fz"]) * 1e6, RATE, placed, ["target"], ["nontarget"], (0, 250), 8)
        X.append(Xr)
        y.append(yr)
    got = korva.extract_epochs(tmp_path / "ds", target="target", non_target=1, window=(0, 250), bins=8)
    assert got.feature_names[0] == "Fz_01" and len(got.feature_names) == 8
    np.testing.assert_array_equal(got.labels, np.concatenate(y))
    np.testing.assert_allclose(got.X, np.vstack(X), rtol=1e-6, atol=1e-6 * np.abs(np.vstack(X)).max())
    assert list(got.subjects) == ["01"] * 32 + ["02"] * 32 and set(got.sessions) == {"1"} and got.runs.max() == 4
    one = korva.extract_epochs(tmp_path / "ds" / "sub-02", target="target", non_target=1, run="02", window=(0, 250), bins=8)
    assert [r["path"] for r in one.reports] == [str(runs[3][0])]
    with pytest.raises(ValueError, match=r"none of its 4 EEG runs \(subjects 01, 02; session 1; task p300; runs 1, 2\)"):
        korva.extract_epochs(tmp_path / "ds", target="target", non_target=1, task="rest")
    out = run_korva("evaluate", "ds", "--target-events", "target", "--nontarget-events", "nontarget", "--groups",
                    "subject", "--window", "0,250", "--bins", 8)
    assert "ds: EEG-BIDS: took its 4 EEG runs (subjects 01, 02; session 1; task p300; runs 1, 2)" in out
    assert "2-fold cross-validation by the groups in column subject" in out
    assert "channels of sub-01_ses-1_task-p300_run-1_channels.tsv marked bad (not taken as EEG): Cz" in out


def xdf_chunk(tag, content):
    return struct.pack("<BIH", 4, len(content) + 2, tag) + content


def xdf_stream(sid, name, kind, rate, fmt, labels, stamps, rows, offsets):
    """A stream's header, samples (a stamp of None: none written) and clock
    offsets, as XDF chunks."""
    channels = "".join(f"<channel><label>{l}</label><unit>microvolts</unit></channel>" for l in labels)
    chunks = xdf_chunk(2, struct.pack("<I", sid) + (
        f"<?xml version='1.0'?><info><name>{name}</name><type>{kind}</type><channel_count>{len(labels)}"
        f"</channel_count><nominal_srate>{rate}</nominal_srate><channel_format>{fmt}</channel_format>"
        f"<desc><channels>{channels}</channels></desc></info>").encode())
    for first in range(0, len(rows), 100):
        body = struct.pack("<IBI", sid, 4, len(rows[first:first + 100]))
        for t, r in zip(stamps[first:first + 100], rows[first:first + 100]):
            body += b"\x00" if t is None else b"\x08" + struct.pack("<d", t)
            body += np.asarray(r, "<f4").tobytes() if fmt == "float32" else b"".join(
                struct.pack("<BI", 4, len(v.encode())) + v.encode() for v in r)
        chunks += xdf_chunk(3, body)
    return chunks + b"".join(xdf_chunk(4, struct.pack("<Idd", sid, c, v)) for c, v in offsets)


def test_xdf_markers_land_on_their_samples_through_the_clock_offsets(tmp_path):
    """EEG sample i happens at 100 + i / 256 s of the recorder's clock; the
    amplifier's clock runs 3 s behind it and drifts 10 ppm, the marker
    stream's 2 s ahead, drifting -20 ppm; stamps jitter by 0.4 ms and some
    samples have none. Each marker must land on the sample it was sent at."""
    offset_eeg, offset_markers = (lambda t: 3 + 1e-5 * t), (lambda t: -2 - 2e-5 * t)
    true = 100 + np.arange(N) / RATE
    stamps = [t - offset_eeg(t) + RNG.uniform(-4e-4, 4e-4) if i % 7 != 3 else None for i, t in enumerate(true)]
    values = RNG.normal(0, 20, (N, 3)).astype("<f4")
    sent = sorted(RNG.choice(np.arange(5, N - 5), 9, replace=False))
    codes = [f"S {1 + k % 2}" for k in range(len(sent))]
    checks = 100 + np.arange(0, SECONDS + 1, 1.0)
    path = tmp_path / "a.xdf"
    path.write_bytes(b"XDF:" + xdf_chunk(1, b"<info><version>1.0</version></info>")
                     + xdf_stream(7, "Amp", "EEG", RATE, "float32", CHANNELS, stamps, values,
                                  [(c, offset_eeg(c)) for c in checks])
                     + xdf_stream(9, "Flashes", "Markers", 0, "string", ["m"],
                                  [true[s] - offset_markers(true[s]) for s in sent], [[c] for c in codes],
                                  [(c, offset_markers(c)) for c in checks]))
    got = korva.read_recording(path)
    assert got.format == "XDF" and got.sfreq == RATE and got.ch_names == CHANNELS and got.eeg == [True] * 3
    np.testing.assert_array_equal(got.data, values.T)
    assert got.events == [(int(s), c) for s, c in zip(sent, codes)]
    # pyxdf's documented steps with numpy: a stamp not written is the one
    # before plus 1 / rate; each stream's clock line; the EEG stamps dejittered
    raw_stamps = np.array(stamps, dtype=float)
    for i in np.flatnonzero(np.isnan(raw_stamps)):
        raw_stamps[i] = raw_stamps[i - 1] + 1 / RATE
    sync = lambda t, offset: t + np.polyval(np.polyfit(checks, offset(checks), 1), t)
    delta, t0 = np.polyfit(np.arange(N), sync(raw_stamps, offset_eeg), 1)
    placed = np.round((sync(np.array([true[s] - offset_markers(true[s]) for s in sent]), offset_markers) - t0) / delta)
    assert [s for s, _ in got.events] == list(placed.astype(int))
    assert "markers placed by the streams' clock offsets (EEG 5, markers 5 measurements), moved -500" in got.notes[-1]
    assert korva.read_recording(path, xdf_eeg="EEG", xdf_markers="Flashes").events == got.events
    with pytest.raises(ValueError, match=r'no stream is named or of type "Gaze" \(--xdf-eeg\)'):
        korva.read_recording(path, xdf_eeg="Gaze")
