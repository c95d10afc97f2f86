import json
import re

import numpy as np
import pandas as pd
import pytest

import korva

SYMBOLS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ123456789_"
TEXT = "HELLO_WORLD1"  # 12 selections x 5 repetitions x 12 flashes: 720 rows


def lit(code):
    """The items of a 6x6 matrix that `code` lights: 1-6 columns, 7-12 rows."""
    return [i for i in range(36) if (i % 6 == code - 1 if code <= 6 else i // 6 == code - 7)]


@pytest.fixture(scope="module")
def session(tmp_path_factory):
    """The demo's test set rearranged into a copy-spelling session: each
    selection 5 rounds of the 12 codes in random order, the flashes that light
    the target taken from target epochs, the others from non-target ones."""
    path = tmp_path_factory.mktemp("speller")
    run = lambda *a: korva_run(path, *a)
    run("demo", "--output", "demo")
    frame = pd.read_csv(path / "demo/test.csv", float_precision="round_trip")
    targets = list(np.flatnonzero(frame["label"] == 1))
    others = list(np.flatnonzero(frame["label"] == -1))
    rng = np.random.default_rng(7)
    rows, codes, selections = [], [], []
    for s, symbol in enumerate(TEXT):
        target = SYMBOLS.index(symbol)
        for _ in range(5):
            for code in rng.permutation(12) + 1:
                rows.append((targets if target in lit(code) else others).pop(0))
                codes.append(code)
                selections.append(s + 1)
    table = frame.iloc[rows].reset_index(drop=True)
    table.insert(1, "selection", selections)
    table.insert(2, "code", codes)
    table.to_csv(path / "table.csv", index=False)
    run("score", "demo/model.xml", "table.csv", "--output", "scores.csv")
    scores = pd.read_csv(path / "scores.csv", float_precision="round_trip")["score"].to_numpy()
    return path, table, scores


def korva_run(cwd, *arguments):
    import os
    import subprocess

    done = subprocess.run([os.environ["KORVA_BINARY"], *map(str, arguments)],
                          cwd=cwd, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout


def spelled(path, *options):
    korva_run(path, "spell", "demo/model.xml", "table.csv", "--layout", "6x6",
              "--target-text", TEXT, "--flash-ms", 250, "--pause-s", 2,
              "--summary", "spell.json", *options)
    return json.loads((path / "spell.json").read_text())


def numpy_decoding(scores, codes, selections, likelihood):
    """Per selection and k: the item chosen (the largest summed score, the
    first on ties) and the log posterior of every item."""
    chosen, log_posterior = [], []
    for s in pd.unique(selections):
        flashes = np.flatnonzero(selections == s)
        repetition = np.array([np.sum(codes[flashes[:i]] == codes[f]) for i, f in enumerate(flashes)])
        sums, llr = np.zeros(36), np.zeros(36)
        per_k, post_k = [], []
        for k in range(repetition.max() + 1):
            for f in flashes[repetition == k]:
                sums[lit(codes[f])] += scores[f]
                llr[lit(codes[f])] += likelihood(scores[f])
            per_k.append(int(np.argmax(sums)))
            post_k.append(llr - np.logaddexp.reduce(llr))
        chosen.append(per_k)
        log_posterior.append(post_k)
    return np.array(chosen), np.array(log_posterior)


def wolpaw(n, p):
    if p <= 1 / n:
        return 0.0
    if p == 1:
        return np.log2(n)
    return np.log2(n) + p * np.log2(p) + (1 - p) * np.log2((1 - p) / (n - 1))


def class_scores(path):
    """(m-, m+, pooled variance) from the model document's ClassScores."""
    text = (path / "demo/model.xml").read_text()
    element = re.search(r"<ClassScores ([^>]*)/>", text).group(1)
    values = dict(re.findall(r'(\w+)="([^"]*)"', element))
    return [float(values[k]) for k in ("NegativeMean", "PositiveMean", "PooledVariance")]


def test_spell_curve_itr_and_posterior_are_numpys_from_scores(session):
    path, table, scores = session
    summary = spelled(path, "--stop-at", 0.9)
    m0, m1, var = class_scores(path)
    likelihood = lambda x: ((m1 - m0) * x + (m0 * m0 - m1 * m1) / 2) / var
    chosen, log_post = numpy_decoding(scores, table["code"].to_numpy(),
                                      table["selection"].to_numpy(), likelihood)
    truth = np.array([SYMBOLS.index(c) for c in TEXT])
    for k, point in enumerate(summary["repetitions"]):
        accuracy = np.mean(chosen[:, k] == truth)
        assert point["accuracy"] == accuracy
        assert point["text"] == "".join(SYMBOLS[i] for i in chosen[:, k])
        bits = wolpaw(36, accuracy)
        assert point["itr_bits_per_selection"] == pytest.approx(bits, rel=1e-12, abs=1e-12)
        assert point["itr_bits_per_minute"] == pytest.approx(bits * 60 / ((k + 1) * 3 + 2), rel=1e-12, abs=1e-12)
    accuracies = [p["accuracy"] for p in summary["repetitions"]]
    assert accuracies[-1] > accuracies[0]
    picked = np.take_along_axis(log_post, chosen[:, :, None], 2)[:, :, 0]
    stops = [int(np.argmax(np.append(np.exp(p) >= 0.9, True))) + 1 for p in picked]
    stops = [min(k, 5) for k in stops]
    for s, one in enumerate(summary["selections"]):
        assert one["posterior"] == pytest.approx(np.exp(picked[s, -1]), rel=1e-9, abs=1e-12)
        assert one["repetitions_used"] == stops[s]
    assert summary["stopping"]["mean_repetitions"] == np.mean(stops)


def test_stopping_near_one_is_the_full_curve_and_lower_levels_stop_sooner(session):
    path = session[0]
    full = spelled(path, "--stop-at", 1)
    last = full["repetitions"][-1]
    assert full["stopping"]["text"] == last["text"]
    assert full["stopping"]["accuracy"] == last["accuracy"]
    used = [spelled(path, "--stop-at", p)["stopping"]["mean_repetitions"] for p in (0.99, 0.9, 0.5)]
    assert used == sorted(used, reverse=True) and used[-1] < 5


def test_python_spell_is_korva_spell(session):
    path, table, scores = session
    summary = spelled(path, "--stop-at", 0.9)
    model = korva.load_model(path / "demo/model.xml")
    result = korva.spell(scores, table["code"], table["selection"], targets=TEXT,
                         model=model, stop_at=0.9, flash_ms=250, pause_s=2)
    assert result.repetitions == summary["repetitions"]
    for mine, theirs in zip(result.selections, summary["selections"]):
        assert mine["chosen"] == theirs["chosen"]
        assert mine["repetitions_used"] == theirs["repetitions_used"]
        assert [list(r) for r in mine["ranking"]] == [[r["symbol"], r["score"]] for r in theirs["ranking"]]
    with pytest.raises(ValueError, match="symbol 3, ~, is not in the layout"):
        korva.spell(scores, table["code"], table["selection"], targets="HE~")


def test_stepwise_lda_trains_from_codes_and_targets_by_the_layouts_rule(session):
    path, table, _ = session
    X = table.drop(columns=["label", "selection", "code"])
    by_rule = korva.StepwiseLDA(p_enter=0.1, p_remove=0.15).fit(
        X, codes=table["code"], selections=table["selection"], targets=TEXT)
    by_hand = korva.StepwiseLDA(p_enter=0.1, p_remove=0.15).fit(X, table["label"])
    np.testing.assert_array_equal(by_rule.coef_, by_hand.coef_)
    assert "<Speller Layout=\"6x6\"" in by_rule.document()


def test_unlabelled_sessions_score_as_the_labelled_ones(tmp_path, run_korva):
    """Every target marker made a non-target one (a plain session), or every
    target marker removed (a speller session): the same scores, no labels."""
    run_korva("generate", "--output", "run.vhdr", "--seconds", 30)
    run_korva("generate", "--speller", "--text", "AB", "--repetitions", 3, "--output", "sp.vhdr")
    run_korva("train", "run.vhdr", "--target-events", 2, "--nontarget-events", 1, "--model", "m.xml")
    run_korva("train", "sp.vhdr", "--layout", "6x6", "--selection-events", 100,
              "--target-events", 101, "--model", "s.xml")
    for stem, edit, model in (("run", lambda t: t.replace("S  2", "S  1"), "m.xml"),
                              ("sp", lambda t: re.sub(r"Mk\d+=Stimulus,S101,.*\n", "", t), "s.xml")):
        vmrk = (tmp_path / f"{stem}.vmrk").read_text()
        (tmp_path / f"new{stem}.vmrk").write_text(edit(vmrk))
        header = (tmp_path / f"{stem}.vhdr").read_text()
        (tmp_path / f"new{stem}.vhdr").write_text(header.replace(f"{stem}.vmrk", f"new{stem}.vmrk"))
        out = run_korva("score", model, f"new{stem}.vhdr", "--output", "new.csv")
        run_korva("score", model, f"{stem}.vhdr", "--output", "old.csv")
        new, old = pd.read_csv(tmp_path / "new.csv"), pd.read_csv(tmp_path / "old.csv")
        assert new["label"].isna().all() and set(old["label"]) == {-1, 1}
        np.testing.assert_array_equal(new["score"], old["score"])
        assert "AUC" not in out
    labelled = korva.extract_epochs(tmp_path / "run.vhdr", target=2, non_target=1)
    plain = korva.extract_epochs(tmp_path / "newrun.vhdr", target=2, non_target=1)
    np.testing.assert_array_equal(plain.X, labelled.X)
    assert not plain.labels.any() and not plain.reports[0]["labelled"]
    model = korva.load_model(tmp_path / "m.xml")
    np.testing.assert_array_equal(model.predict(plain.X), model.predict(labelled.X))


def test_evaluate_folds_are_train_on_one_session_and_spell_the_other(tmp_path, run_korva):
    """Leaving one recording out, each fold's held-out curve is what korva
    spell gives with a model trained on the other recording; the pooled
    curve spells both texts in turn."""
    marks = ("--layout", "6x6", "--selection-events", 100, "--target-events", 101)
    texts = {"a.vhdr": "SPELL", "b.vhdr": "KORVA"}
    for seed, (name, text) in enumerate(texts.items(), 1):
        run_korva("generate", "--speller", "--text", text, "--repetitions", 6,
                  "--seed", seed, "--output", name)
    run_korva("evaluate", "a.vhdr", "b.vhdr", *marks, "--summary", "e.json", "--quiet")
    folds = json.loads((tmp_path / "e.json").read_text())["speller"]
    for fold, (held_out, other) in enumerate((("a.vhdr", "b.vhdr"), ("b.vhdr", "a.vhdr"))):
        run_korva("train", other, *marks, "--model", "m.xml", "--quiet")
        run_korva("spell", "m.xml", held_out, "--summary", "s.json", "--quiet")
        curve = json.loads((tmp_path / "s.json").read_text())["repetitions"]
        assert folds["folds"][fold]["repetitions"] == curve
    pooled = folds["pooled"]
    assert pooled[-1]["text"] == "".join(
        f["repetitions"][-1]["text"] for f in folds["folds"])
    assert pooled[-1]["accuracy"] > pooled[0]["accuracy"]
