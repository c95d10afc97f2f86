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
    ("Marker", None, 1.003 / 128, 128),  # the time column's rate, 0.3 % off
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
    assert got.format == "headset CSV" and got.sfreq == sfreq
    assert got.ch_names == ["AF3", "T7", marker] and got.eeg == [True, True, False]
    np.testing.assert_array_equal(got.data[:2], values.T)
    np.testing.assert_array_equal(got.data[2], markers)
    assert got.events == [(5, "2"), (300, "1"), (301, "3")]
    assert [n[:51] for n in got.notes] == (["sampling rate 128 Hz, from the time column's median"] * (rate is None))


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


def epochs_by_scipy(x, fs, events, target, non_target, window, bins):
    """The recipe with SciPy and numpy: 0.5-30 Hz Butterworth of order 4
    forward and backward, the window (ms) cut at each listed event, the means
    of its bins; rows in event order, channel-major columns."""
    x = signal.sosfiltfilt(signal.butter(4, (0.5, 30), btype="bandpass", fs=fs, output="sos"), x)
    start, end = (round(ms * fs / 1000) for ms in window)
    X, y = [], []
    for onset, code in events:
        if code in target + non_target:
            X.append(x[:, onset + start:onset + end].reshape(len(x), bins, -1).mean(axis=2).ravel())
            y.append(1 if code in target else -1)
    return np.array(X), np.array(y)


def read_table(path):
    table = pd.read_csv(path, float_precision="round_trip")
    return table.drop(columns=["label", "run"]).to_numpy(), table["label"].to_numpy()


def headset_csv(tmp_path):
    """A headset CSV recording at 256 Hz, and its samples and marker onsets."""
    values = RNG.normal(0, 20, (N, len(CHANNELS))).round(3)
    markers = np.zeros(N, dtype=int)
    markers[[5, 6, 300, 301, 700]] = [2, 2, 1, 3, 1]
    rows = [[f"{k / RATE:.6f}", *v, m] for k, (v, m) in enumerate(zip(values, markers))]
    path = write_csv(tmp_path / "h.csv", ["Time", *CHANNELS, "Marker"], rows)
    onsets = [k for k in range(N) if markers[k] and markers[k] != markers[k - 1]]
    return path, values.T, [(k, str(markers[k])) for k in onsets]


@pytest.mark.parametrize("name", [*CASES, "headset CSV"])
def test_korva_epochs_are_the_scipy_recipe_on_mnes_samples(name, tmp_path, run_korva):
    if name == "headset CSV":
        path, x, events = headset_csv(tmp_path)
    else:
        write, read_mne, events_of = CASES[name][:3]
        path = write(tmp_path)
        raw = read_mne(path, preload=True)
        x, events = raw.get_data(picks=CHANNELS) * 1e6, events_of(raw)
    # the options' lists are separated by commas, so a code with one is left out
    codes = list(dict.fromkeys(code for _, code in events if "," not in code))
    target, non_target = codes[:1], codes[1:]
    X, y = epochs_by_scipy(x, RATE, events, target, non_target, (0, 250), 8)
    run_korva("epochs", path, "--output", "epochs.csv", "--channels", ",".join(CHANNELS),
              "--target-events", *target, "--nontarget-events", ",".join(non_target), "--window", "0,250", "--bins", 8)
    got, labels = read_table(tmp_path / "epochs.csv")
    assert len(y) >= 3 and -1 in y
    np.testing.assert_array_equal(labels, y)
    np.testing.assert_allclose(got, X, rtol=1e-6, atol=1e-6 * np.abs(X).max())


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
