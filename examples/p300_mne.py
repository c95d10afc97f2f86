"""P300 classification with MNE and scikit-learn, on simulated data.

The built-in simulated P300 set as MNE Epochs; korva's StepwiseLDA and
scikit-learn's shrinkage LDA, each behind mne.decoding.Vectorizer, are
cross-validated on the same five folds; then StepwiseLDA is trained on every
epoch and the features it selects are drawn over channels x time.

    PYTHONPATH=build/python /usr/bin/python3 examples/p300_mne.py [PICTURE.png]

The picture goes to docs/images/p300_mne_selection.png unless named.
"""

import os
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
from mne.decoding import Vectorizer
from sklearn.discriminant_analysis import LinearDiscriminantAnalysis
from sklearn.model_selection import StratifiedKFold, cross_validate
from sklearn.pipeline import make_pipeline

import korva

picture = Path(
    sys.argv[1]
    if len(sys.argv) > 1
    else Path(__file__).resolve().parent.parent / "docs/images/p300_mne_selection.png"
)

epochs = korva.simulate_p300_epochs(epochs=720, channels=8, samples=20, seed=1)
print(epochs)
X = epochs.get_data()  # epochs x channels x times, in volts
y = epochs.events[:, 2]  # 1: nontarget, 2: target (trained as +1)

classifiers = {
    "StepwiseLDA (korva)": korva.StepwiseLDA(p_enter=0.1, p_remove=0.15),
    "shrinkage LDA (scikit-learn)": LinearDiscriminantAnalysis(
        solver="lsqr", shrinkage="auto"
    ),
}
folds = StratifiedKFold(n_splits=5, shuffle=True, random_state=0)
print("\n5-fold cross-validated AUC, the same folds for both (fit: median per fold):")
print(f"{'':<30}" + "".join(f"{'fold ' + str(i + 1):>8}" for i in range(5))
      + f"{'mean':>8}{'sd':>7}{'fit, ms':>9}")
for name, classifier in classifiers.items():
    result = cross_validate(
        make_pipeline(Vectorizer(), classifier), X, y, cv=folds, scoring="roc_auc"
    )
    auc = result["test_score"]
    print(f"{name:<30}" + "".join(f"{a:>8.3f}" for a in auc)
          + f"{auc.mean():>8.3f}{auc.std():>7.3f}"
          + f"{1000 * np.median(result['fit_time']):>9.1f}")

model = korva.StepwiseLDA(p_enter=0.1, p_remove=0.15).fit(
    Vectorizer().fit_transform(X), y
)
channels, times = epochs.ch_names, epochs.times * 1000
shape = (len(channels), len(times))
step_ms = 1000 / epochs.info["sfreq"]
print(f"\nStepwiseLDA on all {len(y)} epochs: {model.support_.sum()} of "
      f"{model.n_features_in_} features selected in {model.n_iter_} steps, "
      f"{1000 * model.training_seconds_:.1f} ms in the module")
for step in model.steps_[:5]:
    channel, sample = np.unravel_index(step.feature, shape)
    print(f"  step {step.step}: {step.action} {channels[channel]} at "
          f"{times[sample]:.0f}-{times[sample] + step_ms:.0f} ms "
          f"(p = {step.p_value:.3g})")
if len(model.steps_) > 5:
    print(f"  ... {len(model.steps_) - 5} more steps")

# Left: what the classes differ in; right: where StepwiseLDA put its weights.
difference = 1e6 * (X[y == 2].mean(axis=0) - X[y == 1].mean(axis=0))
weights = np.ma.masked_where(~model.support_.reshape(shape),
                             1e-6 * model.coef_.reshape(shape))
figure, axes = plt.subplots(1, 2, figsize=(11, 4), sharey=True)
extent = (0, 800, len(channels) - 0.5, -0.5)
for axis, values, title, label in [
    (axes[0], difference, "target minus non-target mean", "µV"),
    (axes[1], weights,
     f"StepwiseLDA: {model.support_.sum()} selected features", "weight per µV"),
]:
    limit = np.abs(values).max()
    image = axis.imshow(values, aspect="auto", cmap="RdBu_r", vmin=-limit,
                        vmax=limit, extent=extent, interpolation="nearest")
    axis.set_title(title)
    axis.set_xlabel("time (ms)")
    figure.colorbar(image, ax=axis, label=label)
axes[0].set_yticks(range(len(channels)), channels)
axes[1].set_facecolor("0.92")
figure.tight_layout()
picture.parent.mkdir(parents=True, exist_ok=True)
figure.savefig(picture, dpi=100)
print(f"picture written to {os.path.relpath(picture)}")
