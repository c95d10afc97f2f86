import os
import pickle
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pandas as pd
import pytest
from sklearn.base import clone
from sklearn.model_selection import GridSearchCV, GroupKFold, StratifiedKFold, cross_val_score
from sklearn.utils.estimator_checks import check_estimator

import korva
from korva import StepwiseLDA


@pytest.mark.parametrize("estimator", [StepwiseLDA(), korva.StepwiseLDACV()], ids=type)
def test_passes_scikit_learn_estimator_checks(estimator):
    # Among them: a pickled and unpickled estimator predicts the same.
    check_estimator(estimator)


@pytest.mark.parametrize("cv, groups", [(StratifiedKFold(4, shuffle=True, random_state=0), None),
                                        (GroupKFold(3), np.arange(360) % 6)])
def test_cv_equals_grid_search_over_the_valid_pairs(p300, cv, groups):
    # GridSearchCV needs the valid pairs listed one by one, in the same order.
    enter, remove, most = [0.01, 0.05, 0.1, 0.2], [0.05, 0.1, 0.15], [3, 300]
    valid = [{"max_iter": [m], "p_enter": [e], "p_remove": [r]}
             for m in most for e in enter for r in remove if e < r]
    search = GridSearchCV(StepwiseLDA(), valid, scoring="roc_auc", cv=cv)
    search.fit(p300.data, p300.target, groups=groups)
    tuned = korva.StepwiseLDACV(p_enter=enter, p_remove=remove, max_iter=most, cv=cv)
    tuned.fit(p300.data, p300.target, groups=groups)
    assert tuned.n_skipped_ == 12 - len(valid) // 2
    assert tuned.cv_results_["params"] == search.cv_results_["params"]
    assert set(search.cv_results_) <= set(tuned.cv_results_)
    for key, expected in search.cv_results_.items():
        if "time" not in key and key != "params":
            np.testing.assert_array_equal(tuned.cv_results_[key], expected, err_msg=key)
    assert tuned.best_params_ == search.best_params_
    assert tuned.best_score_ == search.best_score_
    np.testing.assert_array_equal(tuned.coef_, search.best_estimator_.coef_)
    np.testing.assert_array_equal(tuned.predict_proba(p300.data), search.predict_proba(p300.data))


@pytest.mark.parametrize(
    "negative, positive",
    [(-1, 1), (0, 1), (False, True), ("nontarget", "target"), (-2.0, 5.0)],
)
def test_any_two_labels_train_the_second_as_plus_one(p300, fitted, negative, positive):
    y = np.where(p300.target > 0, positive, negative)
    model = clone(fitted).fit(p300.data, y)
    assert list(model.classes_) == [negative, positive]
    np.testing.assert_array_equal(model.coef_, fitted.coef_)
    expected = np.where(fitted.decision_function(p300.data) > 0, positive, negative)
    np.testing.assert_array_equal(model.predict(p300.data), expected)


def put(X, row, col, value):
    X = X.copy()
    X[row, col] = value
    return X


# (parameters, what is changed in (X, y), the method called or a call of
# (fitted, X, y), the message)
BAD_INPUTS = {
    "three classes": ({}, lambda X, y: (X, np.arange(len(y)) % 3), "fit",
                      r"y has 3 classes \(0, 1, 2\)"),
    "one class": ({}, lambda X, y: (X, np.ones_like(y)), "fit", r"y has one class only \(1\)"),
    "NaN": ({}, lambda X, y: (put(X, 5, 7, np.nan), y), "fit", r"nan at row 5, column 7"),
    "inf": ({}, lambda X, y: (put(X, 0, 39, -np.inf), y), "fit", r"-inf at row 0, column 39"),
    "NaN to score": ({}, lambda X, y: (put(X, 9, 2, np.nan), y), "predict", r"nan at row 9, column 2"),
    "lengths": ({}, lambda X, y: (X, y[:-1]), "fit", r"X has 360 rows but y has 359 labels"),
    "empty": ({}, lambda X, y: (X[:0], y[:0]), "fit", r"0 sample\(s\)"),
    "features to score": ({}, lambda X, y: (X[:, 1:], y), "predict", r"X has 39 features"),
    "p order": ({"p_enter": 0.2, "p_remove": 0.1}, None, "fit",
                r"p_enter=0.2 and p_remove=0.1 are refused: p-enter must be above 0 and below p-remove"),
    "p_remove above 1": ({"p_remove": 1.5}, None, "fit", r"p_remove=1.5 are refused"),
    "p_enter NaN": ({"p_enter": float("nan")}, None, "fit", r"p_enter=nan .* are refused"),
    "p_enter text": ({"p_enter": "0.1"}, None, "fit", r"p_enter must be a number"),
    "max_iter": ({"max_iter": -1}, None, "fit", r"max_iter must be a whole number"),
    "threshold NaN": ({"threshold": float("nan")}, None, "fit", r"threshold must be a finite number"),
    "threshold mode": ({"threshold_mode": "min"}, None, "fit", r"threshold_mode must be 'max' or 'range'"),
    "control character in a name": (
        {}, None, lambda fitted, X, y: StepwiseLDA().fit(pd.DataFrame(X).add_prefix("a\x01"), y),
        r"feature name 'a\\x010' holds a control character"),
    "save to standard output": ({}, None, lambda fitted, X, y: fitted.save_model("-"),
                                r"save_model writes a file"),
    "classes not two labels": ({}, None, lambda fitted, X, y: korva.load_model(__file__, classes=[1, 1]),
                               r"classes must name two different labels"),
    "grid without a pair": ({}, None, lambda fitted, X, y: korva.StepwiseLDACV(
        p_enter=[0.2, 0.3], p_remove=0.2).fit(X, y), r"the grid holds no setting"),
    "grid value twice": ({}, None, lambda fitted, X, y: korva.StepwiseLDACV(
        max_iter=[3, 3]).fit(X, y), r"max_iter lists 3 twice"),
    "grid with one class": ({}, None, lambda fitted, X, y: korva.StepwiseLDACV().fit(X, np.ones_like(y)),
                            r"y has one class only \(1\); StepwiseLDACV needs exactly two classes"),
    "fewer groups than folds": ({}, None, lambda fitted, X, y: korva.StepwiseLDACV(cv=3).fit(
        X, y, groups=np.arange(len(y)) % 2), r"groups holds 2 groups, 3 folds asked"),
}


@pytest.mark.parametrize("params, change, method, message", BAD_INPUTS.values(), ids=BAD_INPUTS)
def test_bad_input_is_refused_saying_what_and_where(p300, fitted, params, change, method, message):
    X, y = change(p300.data, p300.target) if change else (p300.data, p300.target)
    with pytest.raises(ValueError, match=message):
        if method == "fit":
            StepwiseLDA(**params).fit(X, y)
        elif method == "predict":
            fitted.predict(X)
        else:
            method(fitted, X, y)


def test_failed_training_raises_the_modules_status_and_messages(p300):
    with pytest.raises(korva.TrainingError, match="status -10 .too few examples") as raised:
        StepwiseLDA().fit(p300.data[:5], [1, -1, 1, -1, 1])
    assert (raised.value.kind, raised.value.status) == ("training_failed", -10)
    assert "StepCalc returned -10   allx(5, 40)" in raised.value.messages


def test_exception_inside_the_module_becomes_training_error(p300, monkeypatch):
    monkeypatch.setenv("KORVA_TEST_THROW", "newmat")
    with pytest.raises(korva.TrainingError, match="matrix library: .*planted matrix failure") as raised:
        korva._korva.Classifier.train(
            p300.data, p300.target.astype(float), [], os.environ["KORVA_THROWING_MODULE"])
    assert (raised.value.kind, raised.value.status) == ("training_exception", None)
    assert raised.value.messages == ["Step 1, about to fail"]


KIT_ERRORS = {
    "module": (lambda d, fitted, p300: StepwiseLDA(module=d / "no.kvc").fit(p300.data, p300.target),
               r"module file not found: .*no\.kvc"),
    "output": (lambda d, fitted, p300: fitted.save_model(d / "no" / "m.xml"), r"cannot write .*m\.xml"),
    "model": (lambda d, fitted, p300: korva.load_model(__file__), r"is not a valid XML document"),
}


@pytest.mark.parametrize("kind, call, message", [(k, *v) for k, v in KIT_ERRORS.items()], ids=KIT_ERRORS)
def test_what_the_kit_refuses_is_a_korva_error_of_its_kind(tmp_path, fitted, p300, kind, call, message):
    with pytest.raises(korva.KorvaError, match=message) as raised:
        call(tmp_path, fitted, p300)
    assert raised.value.kind == kind


def test_coef_and_intercept_are_the_least_squares_fit_of_the_selection(p300, fitted):
    # An independent solve: the labels on an intercept and the selected
    # columns. Training may turn the sign of the weights, never the intercept.
    selected = fitted.support_
    design = np.column_stack([np.ones(len(p300.data)), p300.data[:, selected]])
    solution = np.linalg.lstsq(design, p300.target.astype(float), rcond=None)[0]
    sign = np.sign(fitted.coef_[0, selected][0] / solution[1])
    np.testing.assert_allclose(fitted.coef_[0, selected], sign * solution[1:], rtol=1e-9)
    np.testing.assert_allclose(fitted.intercept_, solution[:1], rtol=1e-9)
    assert not fitted.coef_[0, ~selected].any()
    expected = p300.data @ fitted.coef_[0] + fitted.intercept_[0]
    np.testing.assert_allclose(fitted.decision_function(p300.data), expected, rtol=0, atol=1e-12)
    assert fitted.module_path_ == korva.default_module_path()


@pytest.mark.parametrize("max_iter", [0, 1, 5, 300])
def test_steps_replay_to_the_selection(p300, max_iter):
    model = StepwiseLDA(p_enter=0.1, p_remove=0.15, max_iter=max_iter).fit(p300.data, p300.target)
    selected = np.zeros(model.n_features_in_, bool)
    for step in model.steps_:
        assert selected[step.feature] == (step.action == "remove")
        selected[step.feature] = step.action == "add"
    np.testing.assert_array_equal(selected, model.support_)
    assert [s.step for s in model.steps_] == list(range(1, model.n_iter_ + 1))
    assert model.n_iter_ <= max_iter


def test_dataframe_columns_name_the_features_in_the_module(p300):
    frame = pd.DataFrame(p300.data, columns=p300.feature_names)
    model = StepwiseLDA(p_enter=0.1, p_remove=0.15).fit(frame, p300.target)
    assert list(model.feature_names_in_) == p300.feature_names
    first = p300.feature_names[np.flatnonzero(model.support_)[0]]
    assert f"({first}):" in "\n".join(model.training_messages_)


def test_threads_train_as_one_thread_does():
    sets = [korva.simulate_p300(300, 4, 10, seed=s, return_X_y=True) for s in range(8)]
    alone = [StepwiseLDA().fit(X, y).coef_ for X, y in sets]
    with ThreadPoolExecutor(4) as pool:
        together = list(pool.map(lambda s: StepwiseLDA().fit(*s).coef_, sets))
    np.testing.assert_array_equal(alone, together)


def test_probabilities_are_the_two_gaussian_posterior_of_the_training_scores(tmp_path, p300, fitted):
    # Directly: a normal density per class around its mean training score
    # with the pooled variance, the class shares as priors.
    s = fitted.decision_function(p300.data)
    pos, neg = s[p300.target > 0], s[p300.target < 0]
    var = (((pos - pos.mean()) ** 2).sum() + ((neg - neg.mean()) ** 2).sum()) / (len(s) - 2)
    joint_pos = len(pos) * np.exp(-((s - pos.mean()) ** 2) / (2 * var))
    joint_neg = len(neg) * np.exp(-((s - neg.mean()) ** 2) / (2 * var))
    proba = fitted.predict_proba(p300.data)
    np.testing.assert_allclose(proba[:, 1], joint_pos / (joint_pos + joint_neg), rtol=1e-9)
    np.testing.assert_allclose(proba.sum(axis=1), 1.0)
    # Kept in the document: a loaded model (six-digit weights) and an
    # unpickled one (exact weights) give the same probabilities.
    fitted.save_model(tmp_path / "m.xml")
    loaded = korva.load_model(tmp_path / "m.xml")
    np.testing.assert_allclose(loaded.predict_proba(p300.data), proba, atol=1e-5)
    np.testing.assert_array_equal(pickle.loads(pickle.dumps(fitted)).predict_proba(p300.data), proba)
    log_loss = cross_val_score(StepwiseLDA(), p300.data, p300.target, cv=3, scoring="neg_log_loss")
    assert np.all(np.isfinite(log_loss)) and np.all(log_loss < 0)


@pytest.mark.parametrize("threshold, mode", [(0.0, "max"), (-0.3, "max"), (0.5, "range"), (0.0, "range")])
def test_predict_calls_the_target_above_the_cut_of_the_threshold_mode(p300, threshold, mode):
    model = StepwiseLDA(threshold=threshold, threshold_mode=mode).fit(p300.data, p300.target)
    s = model.decision_function(p300.data)
    low, high = s[p300.target < 0].mean(), s[p300.target > 0].mean()
    cut = threshold if mode == "max" else low + threshold * (high - low)
    assert model.cut_ == pytest.approx(cut, rel=1e-12, abs=1e-15)
    np.testing.assert_array_equal(model.predict(p300.data), np.where(s > model.cut_, 1, -1))
