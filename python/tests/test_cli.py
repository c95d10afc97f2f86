import json
import os
import re
import subprocess
import time

import numpy as np
import pandas as pd
import pytest
from sklearn.metrics import roc_auc_score

import korva
from korva import StepwiseLDA

# The p300 fixture's set, as korva writes it.
GENERATE = ("generate", "--epochs", 360, "--channels", 4, "--samples", 10, "--seed", 11)


def read_csv(path):
    return pd.read_csv(path, float_precision="round_trip")


def six_digits(values):
    """Values as the weight file writes them: six significant digits."""
    return np.array([float(f"{v:g}") for v in np.ravel(values)])


def test_korva_and_python_make_read_and_score_the_same_models(p300, run_korva, tmp_path):
    run_korva(*GENERATE, "--output", "data.csv")
    frame = read_csv(tmp_path / "data.csv")
    X, y = frame.drop(columns="label"), frame["label"]
    assert list(frame.columns) == ["label", *p300.feature_names]
    np.testing.assert_array_equal(X, p300.data)
    np.testing.assert_array_equal(y, p300.target)
    run_korva("train", "data.csv", "--p-enter", 0.1, "--p-remove", 0.15, "--quiet",
              "--model", "korva.xml", "--weights", "weights.txt")
    trained = StepwiseLDA(p_enter=0.1, p_remove=0.15).fit(X, y)
    trained.save_model(tmp_path / "python.xml")
    assert (tmp_path / "python.xml").read_text() == (tmp_path / "korva.xml").read_text()
    *weights, intercept = map(float, (tmp_path / "weights.txt").read_text().split())
    np.testing.assert_array_equal(six_digits(trained.coef_), weights)
    assert six_digits(trained.intercept_) == [intercept]
    # The documents being the same, each program scores the other's model.
    run_korva("score", "python.xml", "data.csv", "--output", "scores.csv")
    loaded = korva.load_model(tmp_path / "korva.xml")
    scores = read_csv(tmp_path / "scores.csv")["score"]
    np.testing.assert_array_equal(loaded.decision_function(X), scores)
    assert loaded.intercept_ == trained.intercept_ and loaded.get_params() == trained.get_params()
    np.testing.assert_array_equal(loaded.support_, trained.support_)
    np.testing.assert_allclose(scores, trained.decision_function(X), rtol=1e-4)
    # A document without korva's intercept scores shifted, with a warning.
    text = (tmp_path / "korva.xml").read_text()
    (tmp_path / "bare.xml").write_text(re.sub(r"\s*<Intercept [^>]*/>", "", text))
    with pytest.warns(korva.InterceptWarning, match="has no intercept"):
        bare = korva.load_model(tmp_path / "bare.xml")
    np.testing.assert_allclose(bare.decision_function(X) + trained.intercept_, scores, rtol=1e-12, atol=1e-12)
    assert roc_auc_score(y, bare.decision_function(X)) == roc_auc_score(y, scores)


# Tunings run by korva tune and by StepwiseLDACV: (data: the demo's
# calibration set or the p300 fixture's set, its rows' runs (a run column
# for korva, groups for Python; 0: none), korva's options, StepwiseLDACV's
# parameters).
TUNINGS = {
    "demo, default grid": ("demo", 0, [], {}),
    "demo, 4 runs, one-se": ("demo", 4, ["--one-se"], {"one_se": True}),
    "p300, grid, 3 folds, seed 5, one-se": (
        "p300", 0,
        ["--p-enter", "0.01,0.1,0.3", "--p-remove", "0.05,0.2,0.4", "--max-iter", "3,300",
         "--folds", 3, "--seed", 5, "--one-se"],
        {"p_enter": [0.01, 0.1, 0.3], "p_remove": [0.05, 0.2, 0.4], "max_iter": [3, 300],
         "cv": 3, "random_state": 5, "one_se": True}),
    "p300, 6 runs in 4 folds": (
        "p300", 6, ["--folds", 4, "--p-enter", "0.05,0.1", "--p-remove", "0.1,0.2"],
        {"cv": 4, "p_enter": [0.05, 0.1], "p_remove": [0.1, 0.2]}),
}


def test_info_numbers_the_features_of_a_model_fitted_without_names(run_korva, tmp_path):
    """A model fitted on a bare array has no feature names: korva info lists
    its selection as #1, #2, ... with the weights coef_ holds."""
    rng = np.random.default_rng(1)
    X = rng.normal(size=(200, 6))
    y = np.where(X[:, 0] - X[:, 4] + 0.3 * rng.normal(size=200) > 0, 1, -1)
    model = StepwiseLDA().fit(X, y)
    model.save_model(tmp_path / "m.xml")
    listed = re.findall(r"^  #(\d+)  (\S+)$", run_korva("info", "m.xml"), re.M)
    selected = [int(k) - 1 for k, _ in listed]
    assert selected == list(np.flatnonzero(model.support_))
    assert {0, 4} <= set(selected)  # the first feature too: names[0] of none
    np.testing.assert_allclose(
        [float(w) for _, w in listed], six_digits(model.coef_.ravel()[model.support_]))


@pytest.mark.parametrize("data, runs, options, params", TUNINGS.values(), ids=TUNINGS)
def test_cv_chooses_and_ranks_as_korva_tune(run_korva, tmp_path, data, runs, options, params):
    if data == "demo":
        run_korva("demo", "--output", "demo")
        frame = read_csv(tmp_path / "demo" / "calibration.csv")
    else:
        run_korva(*GENERATE, "--output", "p300.csv")
        frame = read_csv(tmp_path / "p300.csv")
    X, y = frame.drop(columns="label"), frame["label"]
    groups = np.arange(len(y)) * runs // len(y) if runs else None  # runs in file order
    if runs:
        frame.insert(0, "run", [f"run{r}" for r in groups])
    frame.to_csv(tmp_path / "data.csv", index=False, float_format="%.17g")
    run_korva("tune", "data.csv", "--summary", "tune.json", "--quiet", *options)
    tune = json.loads((tmp_path / "tune.json").read_text())
    tuned = korva.StepwiseLDACV(**params).fit(X, y, groups=groups)

    chosen = tune["settings"][tune["chosen"]]
    assert tuned.best_params_ == {key: chosen[key] for key in ("max_iter", "p_enter", "p_remove")}
    assert tuned.n_skipped_ == tune["grid"]["skipped"]
    ranking = sorted(range(len(tune["settings"])), key=lambda s: tune["settings"][s]["rank"])
    assert list(np.argsort(tuned.cv_results_["rank_test_score"], kind="stable")) == ranking
    for s, setting in enumerate(tune["settings"]):
        aucs = [fold["metrics"]["auc"] for fold in setting["folds"]]
        assert tuned.n_splits_ == len(aucs)
        scores = [tuned.cv_results_[f"split{k}_test_score"][s] for k in range(len(aucs))]
        np.testing.assert_allclose(scores, aucs, rtol=1e-12)
        np.testing.assert_allclose(tuned.cv_results_["mean_test_score"][s],
                                   setting["overall"]["mean_auc"], rtol=1e-12)
        assert tuned.cv_results_["mean_n_features"][s] == setting["overall"]["mean_selected"]


@pytest.fixture(scope="module")
def causal_session(tmp_path_factory):
    """Two simulated runs, a model trained on them with the causal filter,
    and a third run with korva score's scores of its flashes."""
    folder = tmp_path_factory.mktemp("stream")

    def run(*arguments):
        done = subprocess.run([os.environ["KORVA_BINARY"], *map(str, arguments)], cwd=folder,
                              capture_output=True, text=True)
        assert done.returncode == 0, done.stderr

    for k in (1, 2, 3):
        run("generate", "--output", f"run{k}.vhdr", "--seconds", 40, "--seed", k, "--quiet")
    run("train", "run1.vhdr", "run2.vhdr", "--target-events", 2, "--nontarget-events", 1, "--filter", "causal",
        "--reference", "average", "--baseline=-100,0", "--model", "m.xml", "--quiet")
    run("score", "m.xml", "run3.vhdr", "--output", "s.csv", "--quiet")
    return folder, read_csv(folder / "s.csv")


def stream(folder, *arguments, text=None):
    """korva stream's flashes (its JSON lines) and standard error."""
    done = subprocess.run([os.environ["KORVA_BINARY"], "stream", "m.xml", *map(str, arguments)], cwd=folder,
                          input=text, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return [json.loads(line) for line in done.stdout.splitlines()], done.stderr


def probability_of_target(model, scores):
    """P(+1 | score) from the model's ClassScores: two normal densities of
    pooled variance, the class sizes as priors."""
    element = re.search(r"<ClassScores ([^>]*)/>", model.read_text()).group(1)
    c = {k: float(v) for k, v in re.findall(r'(\w+)="([^"]*)"', element)}
    log_ratio = (-(scores - c["PositiveMean"]) ** 2 + (scores - c["NegativeMean"]) ** 2) / (2 * c["PooledVariance"])
    return 1 / (1 + np.exp(-(log_ratio + np.log(c["Positives"] / c["Negatives"]))))


def buffer_stream(folder, tag, server_options, *options):
    """korva stream --announce of run3.vhdr served by the test buffer (started
    with `server_options`): its flashes, the events it put into the buffer
    and its standard error."""
    port = folder / f"port-{tag}"
    server = subprocess.Popen([os.environ["KORVA_FT_SERVER"], "run3.vhdr", "--port-file", port, "--lifetime", "60",
                               "--announced", f"announced-{tag}", *map(str, server_options)], cwd=folder)
    try:
        for _ in range(1000):
            if port.exists() or server.poll() is not None:
                break
            time.sleep(0.01)
        flashes, err = stream(folder, "--source", f"ft://127.0.0.1:{port.read_text().strip()}", "--announce", *options)
        assert server.wait(timeout=60) == 0
    finally:
        server.kill()
    lines = (folder / f"announced-{tag}").read_text().splitlines()
    return flashes, [(int(sample), kind, float(value)) for sample, kind, value in map(str.split, lines)], err


@pytest.mark.parametrize("source", ["replay", "buffer"])
@pytest.mark.parametrize("chunk", [1, 7, 32, 1000])
def test_stream_scores_each_flash_as_score_does(causal_session, chunk, source):
    folder, offline = causal_session
    if source == "replay":
        flashes, _ = stream(folder, "--replay", "run3.vhdr", "--chunk", chunk)
    else:  # the big-endian buffer swaps every number korva reads
        flashes, announced, _ = buffer_stream(folder, chunk, ["--chunk", chunk, *(["--big-endian"] if chunk == 7 else [])])
        assert announced == [(f["sample"], "korva", f["score"]) for f in flashes]
    assert [f["event"] for f in flashes] == ["Stimulus/S  2" if y == 1 else "Stimulus/S  1" for y in offline.label]
    np.testing.assert_allclose([f["score"] for f in flashes], offline.score, rtol=1e-12, atol=0)
    np.testing.assert_allclose([f["probability"] for f in flashes],
                               probability_of_target(folder / "m.xml", offline.score.to_numpy()), rtol=1e-9)


@pytest.fixture(scope="module")
def causal_speller(tmp_path_factory):
    """A causal model trained on one copy-spelling session, and korva spell's
    selections of another, without and with dynamic stopping."""
    folder = tmp_path_factory.mktemp("streamspell")
    marks = ("--layout", "6x6", "--selection-events", 100, "--target-events", 101)
    for seed, (name, text) in enumerate((("a.vhdr", "SPELL"), ("b.vhdr", "KORVA")), 1):
        korva_in(folder, "generate", "--speller", "--text", text, "--repetitions", 6, "--seed", seed,
                 "--output", name, "--quiet")
    korva_in(folder, "train", "a.vhdr", *marks, "--filter", "causal", "--model", "m.xml", "--quiet")
    spelled = {}
    for stop in (None, 0.9):
        korva_in(folder, "spell", "m.xml", "b.vhdr", "--summary", "s.json", "--quiet",
                 *(("--stop-at", stop) if stop else ()))
        spelled[stop] = json.loads((folder / "s.json").read_text())["selections"]
    return folder, spelled


def korva_in(folder, *arguments):
    done = subprocess.run([os.environ["KORVA_BINARY"], *map(str, arguments)], cwd=folder,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr


@pytest.mark.parametrize("stop", [None, 0.9])
@pytest.mark.parametrize("chunk", [1, 7, 32, 1000])
def test_streamed_selections_are_korva_spells(causal_speller, chunk, stop):
    """Each selection's line follows the flash that decides it: the last of
    its last repetition, or of the repetition that reaches --stop-at."""
    folder, spelled = causal_speller
    lines, _ = stream(folder, "--replay", "b.vhdr", "--chunk", chunk, *(("--stop-at", stop) if stop else ()))
    selections = [line for line in lines if "selection" in line]
    assert [s["selection"] for s in selections] == [1, 2, 3, 4, 5]
    want = [(s["chosen_when_stopped"], s["repetitions_used"]) if stop else (s["chosen"], 6)
            for s in spelled[stop]]
    assert [(s["symbol"], s["repetitions"]) for s in selections] == want
    assert [s["target"] for s in selections] == list("KORVA")
    if stop:
        assert all(s["posterior"] >= stop for s in selections if s["repetitions"] < 6)
    else:
        np.testing.assert_allclose([s["posterior"] for s in selections], [s["posterior"] for s in spelled[None]],
                                   rtol=1e-12)
    flashes_before = [sum(1 for line in lines[:lines.index(s)] if "sample" in line) for s in selections]
    assert flashes_before == [72 * k + 12 * s["repetitions"] for k, s in enumerate(selections)]


@pytest.mark.parametrize("fail, note", [("repeat", ": 153 events came again (the same type, value and sample as one already given)"),
                                        ("late@6000", ", 1 too late; "), ("idle", "ended: nothing new came for 0.5 s")])
def test_stream_from_a_buffer_that_repeats_or_stops_scores_each_flash_once(causal_session, fail, note):
    folder, offline = causal_session
    flashes, announced, err = buffer_stream(folder, fail, ["--fail", fail], "--idle-timeout", 0.5, "--timing")
    np.testing.assert_allclose([f["score"] for f in flashes], offline.score, rtol=1e-12, atol=0)
    assert len(announced) == len(flashes) and note in err
    assert all(0 <= f["latency_ms"] < 1e4 for f in flashes)


def test_stream_reads_headset_rows_from_standard_input_and_ends_mid_flash(causal_session):
    folder, offline = causal_session
    run = korva.read_recording(folder / "run3.vhdr")
    markers = np.zeros(run.data.shape[1], dtype=int)
    for sample, code in run.events:
        markers[sample] = int(code[-1])
    rows = [",".join(map(repr, [*column, m])) for column, m in zip(run.data.T.tolist(), markers)]
    header = "% exported live\n" + ",".join([*run.ch_names, "Marker"])
    flashes, _ = stream(folder, "--source", "-", text="\n".join([header, *rows]) + "\n")
    assert [f["event"] for f in flashes] == [str(2 if y == 1 else 1) for y in offline.label]
    np.testing.assert_allclose([f["score"] for f in flashes], offline.score, rtol=1e-12, atol=0)

    cut = flashes[-1]["sample"] + 100  # within the last flash's window of 200 samples
    flashes_cut, err = stream(folder, "--source", "-", "--chunk", 5, text="\n".join([header, *rows[:cut]]) + "\n")
    assert flashes_cut == [f for f in flashes if f["sample"] + 200 <= cut] != flashes
    assert "standard input ended before the windows of" in err and "were not scored" in err
