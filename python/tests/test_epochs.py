"""Epoch extraction against SciPy and MNE: the band-pass against butter and
sosfiltfilt, and korva.extract_epochs (and korva epochs, which runs the same
code) against the same recipe written out with MNE's reader, SciPy and
numpy."""

import warnings

import mne
import numpy as np
import pandas as pd
import pytest
from scipy import signal

import korva
from korva import _korva

mne.set_log_level("ERROR")
RNG = np.random.default_rng(3)


def eeg_like(n, fs):
    """Drift, alpha and noise in microvolts, on an offset of 300 uV."""
    t = np.arange(n) / fs
    return 300 + np.cumsum(RNG.normal(0, 2, n)) + 20 * np.sin(2 * np.pi * 10 * t) + RNG.normal(0, 10, n)


@pytest.mark.parametrize("fs", [128, 250, 256, 500, 512, 1000, 1024, 2048])
@pytest.mark.parametrize("band", [(0.1, 12), (0.5, 30), (1, 40), (8, 13)])
def test_band_pass_is_butter_and_sosfiltfilt(fs, band):
    for order in range(1, 9):
        sos = signal.butter(order, band, btype="bandpass", fs=fs, output="sos")
        np.testing.assert_allclose(_korva.band_pass_sections(order, band, fs), sos, rtol=1e-12, atol=1e-15)
        padlen = 3 * (2 * order + 1)
        for n in (padlen + 1, padlen + 7, 4 * fs):
            x = np.array([eeg_like(n, fs) for _ in range(3)])  # a pair, then one alone
            worst = np.max(np.abs(_korva.band_pass(x.copy(), fs, band, order) - signal.sosfiltfilt(sos, x)))
            assert worst <= 1e-9 * np.ptp(x), (order, n, worst / np.ptp(x))


def test_band_pass_refuses_a_signal_not_longer_than_its_padding():
    sos = signal.butter(4, (0.5, 30), btype="bandpass", fs=256, output="sos")
    with pytest.raises(ValueError, match="greater than padlen, which is 27"):
        signal.sosfiltfilt(sos, np.ones(27))
    with pytest.raises(ValueError, match="needs more than 27 samples .* and the signal has 27"):
        _korva.band_pass(np.ones(27), 256, (0.5, 30), 4)


FS, CHANNELS = 250, ["Fz", "Cz", "Pz", "Oz"]


def write_brainvision(path, seconds, events):
    """Float samples in microvolts, multiplexed; events as (sample, code)."""
    data = np.array([eeg_like(seconds * FS, FS) for _ in CHANNELS])
    data[1, 2000:2050] += 300  # a blink that reject must drop
    path.with_suffix(".eeg").write_bytes(np.ascontiguousarray(data.T, "<f4").tobytes())
    channels = "".join(f"Ch{i + 1}={c},,1,µV\n" for i, c in enumerate(CHANNELS))
    path.write_text("Brain Vision Data Exchange Header File Version 1.0\n[Common Infos]\nCodepage=UTF-8\n"
                    f"DataFile={path.stem}.eeg\nMarkerFile={path.stem}.vmrk\nDataFormat=BINARY\n"
                    f"DataOrientation=MULTIPLEXED\nNumberOfChannels={len(CHANNELS)}\n"
                    f"SamplingInterval={1e6 / FS}\n[Binary Infos]\nBinaryFormat=IEEE_FLOAT_32\n"
                    f"[Channel Infos]\n{channels}", encoding="utf-8")
    markers = "".join(f"Mk{i + 1}=Stimulus,{code},{s + 1},1,0\n" for i, (s, code) in enumerate(events))
    path.with_suffix(".vmrk").write_text(
        "Brain Vision Data Exchange Marker File, Version 1.0\n[Marker Infos]\n" + markers, encoding="utf-8")
    return path


def pipeline(paths, window, bins, baseline, reject):
    """The recipe with MNE, SciPy and numpy: average reference, 0.5-30 Hz
    order 4, the window and baseline in samples, bin means, peak-to-peak."""
    sos = signal.butter(4, (0.5, 30), btype="bandpass", fs=FS, output="sos")
    start, end = (round(ms * FS / 1000) for ms in window)
    b0, b1 = (round(ms * FS / 1000) for ms in baseline)
    X, y, runs = [], [], []
    for run, path in enumerate(paths, 1):
        raw = mne.io.read_raw_brainvision(path, preload=True)
        x = raw.get_data() * 1e6
        x = signal.sosfiltfilt(sos, x - x.mean(axis=0))
        onsets, codes = mne.events_from_annotations(raw, event_id={"Stimulus/S  1": -1, "Stimulus/S  2": 1})
        for onset, _, label in onsets:
            if onset + min(start, b0) < 0 or onset + max(end, b1) > x.shape[1]:
                continue
            epoch = x[:, onset + start:onset + end]
            if np.ptp(epoch, axis=1).max() > reject:
                continue
            base = x[:, onset + b0:onset + b1].mean(axis=1, keepdims=True)
            X.append((epoch.reshape(len(CHANNELS), bins, -1).mean(axis=2) - base).ravel())
            y.append(label)
            runs.append(run)
    return np.array(X), np.array(y), np.array(runs)


def test_extract_epochs_is_the_scipy_pipeline_and_korva_epochs(tmp_path, run_korva):
    events = [(s, f"S  {1 + (s // 100) % 3}") for s in range(20, 30 * FS, 100)]
    paths = [write_brainvision(tmp_path / f"run{k}.vhdr", 30, events) for k in (1, 2)]
    recipe = dict(reference="average", window=(-100, 700), bins=10, baseline=(-100, 0), reject=250)
    got = korva.extract_epochs(paths, target="2", non_target=["S1"], **recipe)
    X, y, runs = pipeline(paths, recipe["window"], 10, recipe["baseline"], recipe["reject"])
    assert len(y) < 2 * 50, "the blink was not rejected"
    np.testing.assert_array_equal(got.labels, y)
    np.testing.assert_array_equal(got.runs, runs)
    np.testing.assert_allclose(got.X, X, rtol=0, atol=1e-9 * np.ptp(X))
    assert got.feature_names[:2] == ["Fz_01", "Fz_02"] and got.feature_names[-1] == "Oz_10"
    assert [(r["kept"], r["outside"], r["rejected"], r["skipped"]) for r in got.reports] == [
        ((24, 24), (0, 1), (1, 0), {"Stimulus/S  3": 25})] * 2
    assert 'Window="-100,700"' in got.recipe and '<Channel Name="Oz" />' in got.recipe

    run_korva("epochs", *paths, "--output", "epochs.csv", "--target-events", "S  2", "--nontarget-events", "1",
              "--reference", "average", "--window=-100,700", "--bins", 10, "--baseline=-100,0", "--reject", 250)
    table = pd.read_csv(tmp_path / "epochs.csv", float_precision="round_trip")
    assert list(table.columns[:3]) == ["label", "run", "Fz_01"]
    np.testing.assert_array_equal(table.drop(columns=["label", "run"]), got.X)
    np.testing.assert_array_equal(table["run"], got.runs)


# extract_epochs's keywords (paths: run.vhdr unless given) and its ValueError
REFUSED = {
    "bins_not_dividing": (dict(window=(0, 80), bins=7), "which do not divide into 7 bins; bin counts that fit: 1, 2, 4, 5"),
    "channel_missing": (dict(channels=["Pz", "O1"]), r"run.vhdr: no channel O1 \(its channels: Fz, Cz, Pz, Oz\)"),
    "filter_order": (dict(filter_order=9), "^filter order 9: it must be 1 to 8$"),
    "bins_a_fraction": (dict(bins=2.7), "^bins must be a whole number, not 2.7$"),
    "bins_a_bool": (dict(bins=True), "^bins must be a whole number, not True$"),
    "bins_beyond_an_int": (dict(bins=10**20), "^bins 100000000000000000000 is out of range$"),
    "channel_name_with_a_nul": (dict(channels=["F\0z"]), r"^a channel name holds a control character \(U\+0000\)$"),
    "window_far": (dict(window=(-1e300, 0)), "^window -1e\\+300 to 0 ms: its ends must lie within 1e\\+07 ms"),
    "rate_for_brainvision": (dict(sampling_rate=500), "run.vhdr is read as BrainVision, which gives its own"),
    "nan_sample": (dict(paths="nan.vhdr"), r"nan.vhdr: channel 2 \(Cz\): sample 1001 of 2500 \(at 4.000 s\) is NaN"),
    "one_recording_twice": (dict(paths=["run.vhdr", "copy.vhdr"]), "run.vhdr and .*copy.vhdr both read .*run.eeg"),
    "memory": (dict(memory=10000), "into 2 epochs of 80 features .* needs about .* more than the 9.8 KiB allowed; "
                                   r"korva.set_memory_limit\(bytes\) raises it"),
}


@pytest.mark.parametrize("keywords, message", REFUSED.values(), ids=REFUSED)
def test_extract_epochs_raises_value_error_with_korvas_message(tmp_path, keywords, message):
    path = write_brainvision(tmp_path / "run.vhdr", 10, [(100, "S  1"), (300, "S  2")])
    header = path.read_text(encoding="utf-8")
    (tmp_path / "copy.vhdr").write_text(header, encoding="utf-8")
    (tmp_path / "nan.vhdr").write_text(header.replace("DataFile=run.eeg", "DataFile=nan.eeg"), encoding="utf-8")
    samples = np.frombuffer(path.with_suffix(".eeg").read_bytes(), "<f4").copy()
    samples[1000 * len(CHANNELS) + 1] = np.nan
    (tmp_path / "nan.eeg").write_bytes(samples.tobytes())
    keywords = dict(keywords)
    paths = keywords.pop("paths", "run.vhdr")
    paths = [tmp_path / p for p in ([paths] if isinstance(paths, str) else paths)]
    korva.set_memory_limit(keywords.pop("memory", 1 << 30))
    try:
        with pytest.raises(ValueError, match=message):
            korva.extract_epochs(paths, target=2, non_target=1, **keywords)
    finally:
        korva.set_memory_limit(1 << 30)
    with pytest.raises(FileNotFoundError):
        korva.extract_epochs(tmp_path / "none.vhdr", target=2, non_target=1)


def test_one_channel_name_and_a_bytes_path_are_taken_as_given(tmp_path):
    path = write_brainvision(tmp_path / "run.vhdr", 10, [(100, "S  1"), (300, "S  2")])
    got = korva.extract_epochs(bytes(path), target=2, non_target=1, channels="Fz")
    assert got.feature_names == [f"Fz_{b:02d}" for b in range(1, 21)]


def test_a_model_fitted_with_its_recipe_scores_recordings_in_korva(tmp_path, run_korva):
    paths = [f"run{seed}.vhdr" for seed in (1, 2)]
    for seed, path in enumerate(paths, 1):
        run_korva("generate", "--output", path, "--seconds", 30, "--seed", seed)
    epochs = korva.extract_epochs([tmp_path / p for p in paths], target=2, non_target=1)
    model = korva.StepwiseLDA().fit(epochs.X, epochs.labels, recipe=epochs)
    model.save_model(tmp_path / "model.xml")
    loaded = korva.load_model(tmp_path / "model.xml")  # weights of six digits, as korva reads them
    assert model.support_.any() and loaded.recipe_ == epochs.recipe
    run_korva("score", "model.xml", *paths, "--output", "scores.csv")
    scores = pd.read_csv(tmp_path / "scores.csv", float_precision="round_trip")["score"]
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # names from the document, none in a plain array
        np.testing.assert_allclose(scores, loaded.decision_function(epochs.X), rtol=1e-12)
    assert korva.StepwiseLDA().fit(epochs.X, epochs.labels).recipe_ is None
    with pytest.raises(ValueError, match="its 8 channels x 20 bins give 160 features, and X has 40"):
        korva.StepwiseLDA().fit(epochs.X[:, :40], epochs.labels, recipe=epochs.recipe)


@pytest.mark.parametrize("up, down", [(128, 125), (125, 128), (2, 1), (1, 3), (6, 4), (32, 125), (999, 1000)])
def test_resampler_is_resample_poly(up, down):
    for n in (2, 7, 3 * max(up, down) + 5, 3000):
        x = eeg_like(n, FS)
        got, want = np.array(_korva.resample_poly(x, up, down)), signal.resample_poly(x, up, down)
        assert got.shape == want.shape
        assert np.max(np.abs(got - want)) <= 1e-9 * np.ptp(x), (n, np.max(np.abs(got - want)) / np.ptp(x))


def test_resampled_epochs_are_resample_poly_then_the_recipe(tmp_path, run_korva):
    events = [(s, f"S  {1 + (s // 100) % 2}") for s in range(20, 20 * FS, 100)]
    path = write_brainvision(tmp_path / "run.vhdr", 20, events)
    got = korva.extract_epochs(path, target=2, non_target=1, resample=256, window=(0, 781.25), bins=10)
    raw = mne.io.read_raw_brainvision(path, preload=True)
    x = signal.resample_poly(raw.get_data() * 1e6, 128, 125, axis=1)
    x = signal.sosfiltfilt(signal.butter(4, (0.5, 30), btype="bandpass", fs=256, output="sos"), x)
    X, y = [], []
    for s, code in events:  # 128 s / 125 is never half-way between samples
        t = int(np.round(s * 128 / 125))
        if t + 200 <= x.shape[1]:
            X.append(x[:, t:t + 200].reshape(len(CHANNELS), 10, 20).mean(axis=2).ravel())
            y.append(1 if code.endswith("2") else -1)
    np.testing.assert_array_equal(got.labels, y)
    np.testing.assert_allclose(got.X, X, rtol=0, atol=1e-9 * np.ptp(X))
    assert got.reports[0]["resampled_from"] == FS and 'Resample="256"' in got.recipe

    # sessions at 256 and 250 Hz train one model, which scores another at 250 Hz
    for seed, rate in ((1, 256), (2, 250), (3, 250)):
        run_korva("generate", "--output", f"r{seed}.vhdr", "--seconds", 30, "--seed", seed, "--rate", rate)
    recipe = ("--target-events", 2, "--nontarget-events", 1, "--resample", 256)
    assert "run 2, r2.vhdr (resampled from 250 Hz): " in run_korva("train", "r1.vhdr", "r2.vhdr", *recipe, "--model", "m.xml")
    assert "recordings at other rates resampled to it" in run_korva("score", "m.xml", "r3.vhdr", "--output", "s.csv")
    assert len(pd.read_csv(tmp_path / "s.csv")) > 100
