"""StepwiseLDA: the module's stepwise linear discriminant as a scikit-learn
classifier, and load_model for the classifier documents korva writes."""

import numbers
import os
import warnings
from typing import NamedTuple

import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import _get_feature_names, _num_samples, check_is_fitted

from . import _korva

INTERCEPT_NOTE = _korva.INTERCEPT_NOTE

_INT_MAX = 2**31 - 1


class InterceptWarning(UserWarning):
    """A classifier restored from a document scores without its intercept."""


class Step(NamedTuple):
    """One change of the selection during training."""

    step: int  # 1, 2, ... in the order of the changes
    action: str  # "add" or "remove"
    feature: int  # column index of the feature, counted from 0
    p_value: float  # the p-value that decided the change


def _steps(classifier):
    """The changes of the selection that the training made."""
    return [
        Step(step, "add" if added else "remove", feature, p)
        for step, added, feature, p in classifier.steps
    ]


def _check_names(names):
    """ValueError for a feature name that a classifier document cannot keep:
    one with a control character other than tab and line feed."""
    for name in names:
        if any(
            (ord(c) < 0x20 and c not in "\t\n") or 0x7F <= ord(c) < 0xA0 for c in name
        ):
            raise ValueError(
                f"feature name {name!r} holds a control character, which the "
                f"classifier document cannot keep; rename the column"
            )


def _module_path(module):
    return os.fspath(module) if module is not None else _korva.default_module_path()


def _labels_of(X, y, codes, selections, targets, layout, symbols):
    """(y, the <Speller> element or None): y as given, or made from a
    copy-spelling session's codes and targets by the speller's rule;
    ValueError for both, or for a y of another length than X."""
    paradigm = None
    if codes is not None or targets is not None:
        if y is not None:
            raise ValueError("give y, or codes, selections and targets, not both")
        from ._speller import speller_labels

        y = speller_labels(codes, selections, targets, layout=layout, symbols=symbols)
        paradigm = _korva.paradigm_xml(layout, symbols or "")
    if y is not None:
        try:
            rows, labels = _num_samples(X), _num_samples(y)
        except TypeError:
            rows = labels = None  # left to scikit-learn's checks below
        if rows != labels:
            raise ValueError(
                f"X has {rows} rows but y has {labels} labels: "
                f"one label per row is needed"
            )
    return y, paradigm


def _two_classes(y, estimator="StepwiseLDA"):
    """The classes of y and each label's index among them; ValueError, naming
    the estimator, unless there are two."""
    classes, encoded = np.unique(y, return_inverse=True)
    if len(classes) != 2:
        found = (
            f"one class only ({classes[0]!r})"
            if len(classes) == 1
            else f"{len(classes)} classes ({', '.join(map(repr, classes))})"
        )
        raise ValueError(f"y has {found}; {estimator} needs exactly two classes")
    return classes, encoded


class StepwiseLDA(ClassifierMixin, BaseEstimator):
    """Stepwise linear discriminant analysis for two classes, trained by the
    classifier module ZEZODOvo64.kvc exactly as the command-line host korva
    trains it.

    Features enter the model while their p-value is below ``p_enter`` and
    leave when it rises above ``p_remove``, for at most ``max_iter`` changes
    of the selection; the regression coefficients of the selected features
    are the weights and the intercept the bias. ``classes_[1]`` is trained as
    +1 (it scores high) and ``classes_[0]`` as -1.

    Parameters
    ----------
    p_enter, p_remove : float
        0 < p_enter < p_remove <= 1 (the module's defaults {p_enter} and
        {p_remove}; {customary_enter} and {customary_remove} are customary for
        P300 data).
    max_iter : int
        Most changes of the selection, 0 or more (default {max_iter}).
    threshold : float
        The decision threshold (default 0). With ``threshold_mode="max"`` a
        score cut: ``predict`` calls a row ``classes_[1]`` when its score is
        above it. With ``threshold_mode="range"`` a fraction of the way from
        the training set's mean score of ``classes_[0]`` to that of
        ``classes_[1]``: 0.5 midway, 0 at the first mean, 1 at the second.
    threshold_mode : {{"max", "range"}}
        How ``threshold`` is read (the dialog's "Threshold Mode").
    module : str or path, optional
        Another module file to load; by default $KORVA_MODULE, else the
        module of this build or installation.

    Attributes
    ----------
    classes_ : the two class labels, sorted.
    coef_ : ndarray of shape (1, n_features), 0 where a feature is not selected.
    intercept_ : ndarray of shape (1,), the trained bias W0.
    support_ : boolean mask of the selected features.
    n_features_in_, feature_names_in_ : as in scikit-learn; feature names
        (from a DataFrame's string columns) are passed to the module.
    steps_ : list of Step, the changes of the selection in order.
    n_iter_ : the number of those changes.
    training_messages_ : the module's messages, as korva prints them.
    training_seconds_ : the module's own training time (one Train call).
    module_path_ : the module file that was loaded.
    cut_ : the score above which ``predict`` answers ``classes_[1]``.
    recipe_ : the recipe that cuts recordings into the features, as the
        XML element a saved model keeps (``korva score`` cuts recordings by
        it), or None for a model of features from elsewhere.

    ``predict_proba`` gives the probability model of linear discriminant
    analysis fitted to the training scores: a normal density of the scores
    per class with their pooled variance, the class sizes as priors. It is a
    logistic function of the score and need not cross 0.5 at ``cut_``.
    """

    # Set by load_model when feature_names_in_ come from the document.
    _names_from_document = False

    def __init__(
        self,
        p_enter=_korva.DEFAULT_P_ENTER,
        p_remove=_korva.DEFAULT_P_REMOVE,
        max_iter=_korva.DEFAULT_MAX_ITER,
        threshold=0.0,
        threshold_mode="max",
        module=None,
    ):
        self.p_enter = p_enter
        self.p_remove = p_remove
        self.max_iter = max_iter
        self.threshold = threshold
        self.threshold_mode = threshold_mode
        self.module = module

    def _check_params(self):
        for name in ("p_enter", "p_remove"):
            value = getattr(self, name)
            if not isinstance(value, numbers.Real) or isinstance(value, bool):
                raise ValueError(f"{name} must be a number, got {value!r}")
        if not _korva.valid_p_range(self.p_enter, self.p_remove):
            raise ValueError(
                f"p_enter={self.p_enter!r} and p_remove={self.p_remove!r} are "
                f"refused: {_korva.P_RANGE_RULE}"
            )
        if (
            not isinstance(self.max_iter, numbers.Integral)
            or isinstance(self.max_iter, bool)
            or not 0 <= self.max_iter <= _INT_MAX
        ):
            raise ValueError(
                f"max_iter must be a whole number from 0 to {_INT_MAX}, "
                f"got {self.max_iter!r}"
            )
        if (
            not isinstance(self.threshold, numbers.Real)
            or isinstance(self.threshold, bool)
            or not np.isfinite(self.threshold)
        ):
            raise ValueError(f"threshold must be a finite number, got {self.threshold!r}")
        if self.threshold_mode not in ("max", "range"):
            raise ValueError(
                f"threshold_mode must be 'max' or 'range', got {self.threshold_mode!r}"
            )

    def _check_finite(self, X, rows=None):
        """ValueError naming the first NaN or inf of X (of its `rows`)."""
        found = _korva.first_nonfinite(X if rows is None else X[rows])
        if found is None:
            return
        row, col = found
        row = row if rows is None else rows[row]
        where = f"row {row}, column {col} (counted from 0"
        if hasattr(self, "feature_names_in_"):
            where += f"; feature {self.feature_names_in_[col]}"
        raise ValueError(
            f"X holds {X[row, col]} at {where}): NaN and inf cannot be classified"
        )

    def fit(
        self,
        X,
        y=None,
        recipe=None,
        *,
        codes=None,
        selections=None,
        targets=None,
        layout="6x6",
        symbols=None,
    ):
        """Trains the module on X (n_samples x n_features) and two-class y.

        ``recipe`` says how X was cut from recordings: the ``Epochs`` that
        ``extract_epochs`` returns, or its ``recipe`` text. The model keeps
        it, so that a saved model scores recordings (``korva score MODEL
        RECORDING...``). ValueError when it does not give X's columns, one
        per channel and bin.

        A copy-spelling session trains without y: ``codes`` and
        ``selections`` (one per row of X) and ``targets`` (one symbol per
        selection) make the labels by the speller's rule
        (``korva.speller_labels`` with ``layout`` and ``symbols``), and the
        model keeps the layout, as ``korva train --layout`` does."""
        self._check_params()
        y, paradigm = _labels_of(X, y, codes, selections, targets, layout, symbols)
        X, y = self._validate_data(
            X, y, dtype=np.float64, order="C", force_all_finite=False
        )
        self._check_finite(X)
        check_classification_targets(y)
        classes, encoded = _two_classes(y)
        names = list(getattr(self, "feature_names_in_", []))
        _check_names(names)
        classifier = _korva.Classifier.train(
            X,
            np.where(encoded == 1, 1.0, -1.0),
            names,
            _module_path(self.module),
            float(self.p_enter),
            float(self.p_remove),
            int(self.max_iter),
            float(self.threshold),
            self.threshold_mode == "range",
        )
        if recipe is not None:
            classifier.set_recipe(getattr(recipe, "recipe", recipe))
        if paradigm is not None:
            _korva.set_speller(classifier, paradigm)
        return self._take(classifier, classes)

    def _take(self, classifier, classes):
        """Takes `classifier`, just trained on rows of `classes`, as the fit."""
        self.classes_ = classes
        self._set_classifier(classifier)
        self.training_seconds_ = classifier.training_seconds
        self.training_messages_ = classifier.training_messages
        self.steps_ = _steps(classifier)
        self.n_iter_ = len(self.steps_)
        return self

    def _check_feature_names(self, X, *, reset):
        # A model restored from a document knows its features' names without
        # having been fitted on a DataFrame: a plain array (extract_epochs's
        # X) is what it scores, so only a table with names is checked.
        if not reset and self._names_from_document and _get_feature_names(X) is None:
            return
        super()._check_feature_names(X, reset=reset)

    def _set_classifier(self, classifier):
        """Takes `classifier` as the fitted model."""
        self._classifier = classifier
        self.module_path_ = classifier.module_path
        self.support_ = classifier.selected
        self.coef_ = np.where(self.support_, classifier.weights, 0.0)[np.newaxis, :]
        self.intercept_ = np.array([classifier.intercept])
        self.recipe_ = classifier.recipe
        try:
            self.cut_ = classifier.cut
        except _korva.KorvaError:
            self.cut_ = None  # a Range-mode document without class scores

    def decision_function(self, X):
        """The module's score of each row: high for classes_[1]."""
        check_is_fitted(self)
        X = self._validate_data(
            X, dtype=np.float64, order="C", force_all_finite=False, reset=False
        )
        scores = self._classifier.score(X)
        # The score multiplies every value by its weight (0 included), so a
        # row with NaN or inf scores NaN or inf: only such rows are searched.
        # A row of finite values may score inf too (overflow); it is kept.
        nonfinite = np.flatnonzero(~np.isfinite(scores))
        if len(nonfinite):
            self._check_finite(X, nonfinite)
        return scores

    def predict(self, X):
        """classes_[1] where the score is above cut_, else classes_[0]."""
        scores = self.decision_function(X)
        return self.classes_[self._classifier.decide(scores).astype(int)]

    def predict_proba(self, X):
        """P(classes_[0]) and P(classes_[1]) of each row (see the class)."""
        scores = self.decision_function(X)
        p = self._classifier.probability(scores)
        return np.column_stack([1.0 - p, p])

    def save_model(self, path):
        """Saves the classifier document that korva reads (korva score,
        korva info), with the intercept as korva keeps it."""
        check_is_fitted(self)
        path = os.fspath(path)
        if path == "-":
            raise ValueError(
                "save_model writes a file; '-' would be standard output. "
                "Use model.document() for the text"
            )
        self._classifier.save(path)

    def document(self):
        """The classifier document that save_model writes, as text."""
        check_is_fitted(self)
        return self._classifier.document()

    def _more_tags(self):
        return {"binary_only": True}

    # A fitted estimator is pickled as its classifier document, with the
    # weights in full precision and the intercept; the module is loaded again
    # where it is unpickled.
    def __getstate__(self):
        state = dict(super().__getstate__())  # may be self.__dict__ itself
        classifier = state.pop("_classifier", None)
        if classifier is not None:
            state["_document"] = classifier.exact_document()
        return state

    def __setstate__(self, state):
        document = state.pop("_document", None)
        super().__setstate__(state)
        if document is not None:
            classifier = _korva.Classifier.restore(document, _module_path(self.module))
            self._set_classifier(classifier)


def load_model(path, *, classes=None, module=None):
    """A fitted StepwiseLDA restored from a classifier document that korva or
    save_model wrote.

    The document carries the selection, the weights (six significant digits),
    the settings and, as korva's own element, the intercept. A document
    written without the intercept restores a classifier that scores with
    intercept_ 0, which shifts every score by the same constant and leaves the
    ranking (and the AUC) unchanged; an InterceptWarning says so.
    ``classes`` names the labels trained as -1 and +1 (default [-1, 1]).
    The features' names, when the document has them, become
    ``feature_names_in_``: a DataFrame must have those columns, and a NumPy
    array of as many columns (``extract_epochs(...).X``) is taken as it is.
    """
    classes = np.asarray([-1, 1] if classes is None else classes)
    if classes.shape != (2,) or classes[0] == classes[1]:
        raise ValueError(f"classes must name two different labels, got {classes!r}")
    classifier, notes = _korva.Classifier.load(os.fspath(path), _module_path(module))
    for note in notes:
        warnings.warn(note, UserWarning, stacklevel=2)
    if not classifier.intercept_known:
        warnings.warn(INTERCEPT_NOTE, InterceptWarning, stacklevel=2)
    estimator = StepwiseLDA(
        p_enter=classifier.p_enter,
        p_remove=classifier.p_remove,
        max_iter=classifier.max_iter,
        threshold=classifier.threshold,
        threshold_mode=classifier.threshold_mode,
        module=module,
    )
    estimator.classes_ = classes
    estimator._set_classifier(classifier)
    estimator.n_features_in_ = len(estimator.support_)
    names = classifier.feature_names
    if len(names) == estimator.n_features_in_ and all(names):
        estimator.feature_names_in_ = np.asarray(names, dtype=object)
        estimator._names_from_document = True
    return estimator


StepwiseLDA.__doc__ = StepwiseLDA.__doc__.format(
    p_enter=_korva.DEFAULT_P_ENTER,
    p_remove=_korva.DEFAULT_P_REMOVE,
    max_iter=_korva.DEFAULT_MAX_ITER,
    customary_enter=_korva.CUSTOMARY_P_ENTER,
    customary_remove=_korva.CUSTOMARY_P_REMOVE,
)
