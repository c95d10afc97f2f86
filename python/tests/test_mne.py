import numpy as np
from mne.decoding import Vectorizer
from sklearn.model_selection import GridSearchCV, cross_val_score
from sklearn.pipeline import make_pipeline

import korva


def test_epochs_in_a_pipeline_cross_validate_and_search_in_two_processes():
    epochs = korva.simulate_p300_epochs(epochs=480, channels=4, samples=10, seed=3)
    data = korva.simulate_p300(epochs=480, channels=4, samples=10, seed=3)
    assert epochs.ch_names == data.ch_names == ["Fz", "Cz", "Pz", "Oz"]
    np.testing.assert_allclose(epochs.times, data.times - data.times[0])
    np.testing.assert_allclose(epochs.get_data().reshape(480, -1) * 1e6, data.data)
    X, y = epochs.get_data(), epochs.events[:, 2]
    pipeline = make_pipeline(Vectorizer(), korva.StepwiseLDA(p_enter=0.1, p_remove=0.15))
    auc = cross_val_score(pipeline, X, y, cv=5, scoring="roc_auc", n_jobs=2)
    assert auc.min() > 0.8
    grid = {"stepwiselda__p_enter": [0.05, 0.1]}
    search = GridSearchCV(pipeline, grid, cv=3, scoring="roc_auc", n_jobs=2).fit(X, y)
    assert search.best_score_ > 0.8
    assert list(search.best_estimator_.classes_) == [1, 2]
