"""StepwiseLDACV: p_enter, p_remove and max_iter chosen by cross-validation
over a grid, as korva tune chooses them."""

import numbers
import time
import warnings
from collections import defaultdict

import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.metrics import check_scoring
from sklearn.model_selection import check_cv
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_is_fitted

from . import _korva
from ._estimator import StepwiseLDA, _module_path, _two_classes


def _grid_list(name, values, whole):
    """The values of one grid parameter as a list; ValueError for a value of
    the wrong kind (korva's grid refuses the rest)."""
    values = [values] if isinstance(values, (numbers.Number, str)) else list(values)
    for value in values:
        kind = numbers.Integral if whole else numbers.Real
        if not isinstance(value, kind) or isinstance(value, bool):
            what = "whole numbers" if whole else "numbers"
            raise ValueError(f"{name} must list {what}, got {value!r}")
    return [int(v) for v in values] if whole else [float(v) for v in values]


def _fold_indices(fold, count):
    """(train, test) row indices of each of `count` folds of a fold vector."""
    fold = np.asarray(fold)
    return [(np.flatnonzero(fold != k), np.flatnonzero(fold == k)) for k in range(count)]


class StepwiseLDACV(ClassifierMixin, BaseEstimator):
    """StepwiseLDA with p_enter, p_remove and max_iter chosen by
    cross-validation over a grid, then refitted on all the data: the choice
    that ``korva tune`` makes, in the convention of scikit-learn's ``*CV``
    estimators.

    Every p_enter is paired with every p_remove and max_iter; pairs whose
    p_enter is not below their p_remove are skipped (``n_skipped_`` counts
    them), not fitted.

    Parameters
    ----------
    p_enter, p_remove : list of float
        The p-values of the grid, each above 0 and at most 1 (defaults
        {p_enter} and {p_remove}, as korva tune).
    max_iter : list of int
        The most changes of the selection (default {max_iter}).
    cv : None, int, a scikit-learn splitter or an iterable of (train, test)
        None or an int: korva's own folds, the rows dealt as ``korva tune``
        deals them (``random_state`` its ``--seed``): {folds} (or cv)
        stratified folds, or with ``groups`` given to fit, folds of whole
        groups (each group a fold unless cv gives their number). Anything
        else is passed to scikit-learn's ``check_cv``.
    scoring : str or callable
        The score of a fold's test rows (default "roc_auc"); the mean over
        the folds that have a score chooses.
    one_se : bool
        Choose the setting with the fewest mean selected features among those
        whose mean score is at least the best's less its standard error (the
        sample standard deviation of its fold scores over the square root of
        their number).
    random_state : int
        The seed of korva's stratified folds (default {seed}, korva's).
    threshold, threshold_mode, module :
        As StepwiseLDA's, for every fit.

    Attributes
    ----------
    best_params_, best_index_, best_score_ : the chosen setting, its index in
        cv_results_ and its mean score.
    best_estimator_ : the StepwiseLDA of the chosen setting fitted on all of X.
    cv_results_ : the keys of GridSearchCV's cv_results_, one entry per
        fitted setting (``mean_test_score`` the mean over the folds with a
        score, ``std_test_score`` their population standard deviation, as
        GridSearchCV's), and ``mean_n_features`` and ``split<k>_n_features``,
        the number of selected features.
    n_splits_, n_skipped_, refit_time_, classes_, n_features_in_,
    feature_names_in_ : as their names say; coef_, intercept_ and support_
        are the best estimator's.
    """

    def __init__(
        self,
        p_enter=tuple(_korva.TUNING_P_ENTER),
        p_remove=tuple(_korva.TUNING_P_REMOVE),
        max_iter=tuple(_korva.TUNING_MAX_ITER),
        cv=None,
        scoring="roc_auc",
        one_se=False,
        random_state=_korva.DEFAULT_SEED,
        threshold=0.0,
        threshold_mode="max",
        module=None,
    ):
        self.p_enter = p_enter
        self.p_remove = p_remove
        self.max_iter = max_iter
        self.cv = cv
        self.scoring = scoring
        self.one_se = one_se
        self.random_state = random_state
        self.threshold = threshold
        self.threshold_mode = threshold_mode
        self.module = module

    def _settings(self):
        """korva's grid: its settings in korva's order (max_iter, p_enter,
        p_remove, the last changing fastest) without the pairs that the
        module refuses, and the number of pairs skipped."""
        return _korva.make_grid(
            _grid_list("p_enter", self.p_enter, False),
            _grid_list("p_remove", self.p_remove, False),
            _grid_list("max_iter", self.max_iter, True),
        )

    def _estimator(self, setting):
        return StepwiseLDA(
            threshold=self.threshold,
            threshold_mode=self.threshold_mode,
            module=self.module,
            **setting,
        )

    def _splits(self, X, y, plus, groups):
        korva_folds = isinstance(self.cv, numbers.Integral) and not isinstance(self.cv, bool)
        if self.cv is None or korva_folds:
            if self.cv is not None and self.cv < 2:
                raise ValueError(f"cv must be 2 folds or more, got {self.cv}")
            seed = self.random_state
            if not isinstance(seed, numbers.Integral) or isinstance(seed, bool) or seed < 0:
                raise ValueError(
                    f"random_state must be a whole number, 0 or more (the seed of "
                    f"korva's folds), got {seed!r}"
                )
            fold, count = _korva.deal_folds(
                plus.tolist(),
                None if groups is None else np.asarray(groups).tolist(),
                0 if self.cv is None else int(self.cv),
                int(seed),
            )
            return _fold_indices(fold, count)
        return list(check_cv(self.cv, y, classifier=True).split(X, y, groups))

    def _validate(self, X, y):
        """X as float64 rows, y's two classes; StepwiseLDA's errors."""
        probe = self._estimator({})
        probe._check_params()
        X, y = self._validate_data(X, y, dtype=np.float64, order="C", force_all_finite=False)
        probe._check_finite(X)
        check_classification_targets(y)
        classes, encoded = _two_classes(y, "StepwiseLDACV")
        return X, y, np.where(encoded == 1, 1.0, -1.0)

    def _shared_fits(self, settings, splits, X, y, plus):
        """Per fold whose training rows hold both classes, every setting
        trained at once through the module (``Classifier.train_subsets``,
        which shares the folds' cross-products where the module offers it,
        with the results of separate fits): per setting, a fitted
        StepwiseLDA or the TrainingError its fit raises. None for the other
        folds, whose fits raise StepwiseLDA's ValueError."""
        folds = [k for k, (train, _) in enumerate(splits) if len(np.unique(y[train])) == 2]
        trained = _korva.Classifier.train_subsets(
            X,
            plus,
            [],
            _module_path(self.module),
            [np.asarray(splits[k][0]).tolist() for k in folds],
            [(s["p_enter"], s["p_remove"], s["max_iter"]) for s in settings],
            float(self.threshold),
            self.threshold_mode == "range",
        ) if folds else []
        fits = [None] * len(splits)
        for k, models in zip(folds, trained):
            classes = np.unique(y[splits[k][0]])
            fits[k] = [
                model
                if isinstance(model, _korva.TrainingError)
                else self._fitted(setting, model, classes, X.shape[1])
                for setting, model in zip(settings, models)
            ]
        return fits

    def _fitted(self, setting, classifier, classes, n_features):
        estimator = self._estimator(setting)
        estimator.n_features_in_ = n_features
        return estimator._take(classifier, classes)

    def _fit(self, setting, fit, X, y, train):
        """The setting's estimator on the fold's training rows (from the
        shared fits when given) and its fit time."""
        if fit is not None:
            if isinstance(fit, Exception):
                raise fit
            return fit, fit.training_seconds_
        started = time.perf_counter()
        fitted = self._estimator(setting).fit(np.ascontiguousarray(X[train]), y[train])
        return fitted, time.perf_counter() - started

    def _run(self, settings, splits, X, y, plus):
        """Every setting on every fold: per result name, an array of
        settings x folds."""
        scorer = check_scoring(StepwiseLDA(), scoring=self.scoring)
        out = defaultdict(lambda: np.full((len(settings), len(splits)), np.nan))
        failures = []
        shared = self._shared_fits(settings, splits, X, y, plus)
        for k, (train, test) in enumerate(splits):
            X_test, y_test = X[test], y[test]
            for s, setting in enumerate(settings):
                try:
                    fitted, out["fit_time"][s, k] = self._fit(
                        setting, None if shared[k] is None else shared[k][s], X, y, train
                    )
                except (_korva.TrainingError, ValueError) as error:
                    failures.append((s, k, error))
                    continue
                started = time.perf_counter()
                try:
                    out["test_score"][s, k] = scorer(fitted, X_test, y_test)
                except ValueError:
                    pass  # a test fold of one class has no AUC, as in korva
                out["score_time"][s, k] = time.perf_counter() - started
                out["n_features"][s, k] = fitted.support_.sum()
        return out, failures

    def _results(self, settings, out, failures):
        """cv_results_ in GridSearchCV's keys, and the setting korva's rule
        chooses (None: no setting has a score). A setting that failed in any
        fold has no scores, as in korva tune."""
        failed = sorted({s for s, _, _ in failures})
        out["test_score"][failed] = np.nan
        out["n_features"][failed] = np.nan
        choice = _korva.choose_setting(
            out["test_score"].tolist(),
            out["n_features"].tolist(),
            [s in failed for s in range(len(settings))],
            bool(self.one_se),
        )
        results = {}
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)  # rows without a number
            for name in ("fit_time", "score_time"):
                results[f"mean_{name}"] = np.nanmean(out[name], axis=1)
                results[f"std_{name}"] = np.nanstd(out[name], axis=1)
            for name in ("max_iter", "p_enter", "p_remove"):
                column = np.ma.MaskedArray(np.empty(len(settings)), mask=False, dtype=object)
                column[:] = [setting[name] for setting in settings]
                results[f"param_{name}"] = column
            results["params"] = [dict(setting) for setting in settings]
            for name in ("test_score", "n_features"):
                for k in range(out[name].shape[1]):
                    results[f"split{k}_{name}"] = out[name][:, k]
            results["mean_test_score"] = np.array(choice["mean"])
            results["mean_n_features"] = np.array(choice["mean_n_features"])
            # GridSearchCV's key: the population standard deviation (ddof 0);
            # the choice took korva's sample spread.
            results["std_test_score"] = np.nanstd(out["test_score"], axis=1)
            results["rank_test_score"] = np.array(choice["rank"], dtype=np.int32)
        return results, choice["chosen"]

    def fit(self, X, y, groups=None):
        """Cross-validates every setting of the grid on X (n_samples x
        n_features) and two-class y, chooses one and refits it on all of X.
        ``groups`` keeps each group's rows in one fold."""
        settings, skipped = self._settings()
        X_given = X
        X, y, plus = self._validate(X, y)
        splits = self._splits(X, y, plus, groups)
        out, failures = self._run(settings, splits, X, y, plus)
        results, chosen = self._results(settings, out, failures)
        if len({s for s, _, _ in failures}) == len(settings):
            raise failures[0][2]
        if chosen is None:
            raise ValueError(
                f"no setting has a score to choose by: no fold's test rows gave one "
                f"({self.scoring!r} needs both classes in a fold)"
            )
        self.cv_results_ = results
        self.n_splits_ = len(splits)
        self.n_skipped_ = skipped
        self.best_index_ = int(chosen)
        self.best_params_ = dict(settings[chosen])
        self.best_score_ = float(results["mean_test_score"][chosen])
        started = time.perf_counter()
        self.best_estimator_ = self._estimator(self.best_params_).fit(X_given, y)
        self.refit_time_ = time.perf_counter() - started
        self.classes_ = self.best_estimator_.classes_
        return self

    def decision_function(self, X):
        """The best estimator's score of each row: high for classes_[1]."""
        check_is_fitted(self)
        return self.best_estimator_.decision_function(X)

    def predict(self, X):
        check_is_fitted(self)
        return self.best_estimator_.predict(X)

    def predict_proba(self, X):
        check_is_fitted(self)
        return self.best_estimator_.predict_proba(X)

    def save_model(self, path):
        """The best estimator's classifier document (StepwiseLDA.save_model)."""
        check_is_fitted(self)
        self.best_estimator_.save_model(path)

    @property
    def coef_(self):
        check_is_fitted(self)
        return self.best_estimator_.coef_

    @property
    def intercept_(self):
        check_is_fitted(self)
        return self.best_estimator_.intercept_

    @property
    def support_(self):
        check_is_fitted(self)
        return self.best_estimator_.support_

    @property
    def n_iter_(self):
        """The best estimator's number of changes of the selection."""
        check_is_fitted(self)
        return self.best_estimator_.n_iter_

    def _more_tags(self):
        return {
            "binary_only": True,
            "_xfail_checks": {
                "check_fit2d_1feature": "its 10 rows hold 3 of one class, too few "
                "for 5 stratified folds, and fit says so",
            },
        }


StepwiseLDACV.__doc__ = StepwiseLDACV.__doc__.format(
    folds=_korva.DEFAULT_FOLDS,
    seed=_korva.DEFAULT_SEED,
    p_enter=list(_korva.TUNING_P_ENTER),
    p_remove=list(_korva.TUNING_P_REMOVE),
    max_iter=list(_korva.TUNING_MAX_ITER),
)
