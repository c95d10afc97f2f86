"""The built-in simulated P300 data (the generator korva generate uses), as
arrays and as MNE epochs, so that examples and tests need no download."""

import numbers

import numpy as np
from sklearn.utils import Bunch

from . import _korva

# Event codes of simulate_p300_epochs: sorted, the target class comes second
# and is the one a classifier trains as +1.
EVENT_ID = {"nontarget": 1, "target": 2}


def simulate_p300(
    epochs=720, channels=8, samples=20, seed=1, target_ratio=1 / 6, *, return_X_y=False
):
    """Simulated P300 epochs: ``epochs`` rows of ``channels`` x ``samples``
    values in microvolts over 0-800 ms, channel-major (column
    ``c * samples + k`` is channel c at sample k), labelled +1 (target,
    ``target_ratio`` of the epochs) and -1. The same arguments give the same
    values as ``korva generate``.

    Returns a Bunch with ``data`` (epochs x features), ``target`` (+1 / -1),
    ``feature_names`` ("Cz_07"), ``ch_names`` and ``times`` (seconds, the
    centre of each sample), or ``(data, target)`` with ``return_X_y``.
    """
    if not isinstance(seed, numbers.Integral) or seed < 0:
        raise ValueError(f"seed must be a whole number, 0 or more, got {seed!r}")
    X, labels, names = _korva.simulate_p300(
        epochs, channels, samples, seed, float(target_ratio)
    )
    y = labels.astype(np.int64)
    if return_X_y:
        return X, y
    step = _korva.EPOCH_LENGTH_MS / samples / 1000.0
    return Bunch(
        data=X,
        target=y,
        feature_names=names,
        ch_names=list(_korva.GENERATOR_CHANNELS[:channels]),
        times=(np.arange(samples) + 0.5) * step,
    )


def simulate_p300_epochs(
    epochs=720, channels=8, samples=20, seed=1, target_ratio=1 / 6
):
    """The set of simulate_p300 as ``mne.EpochsArray``: EEG channels with
    their 10-20 positions, values in volts, events "target" (2) and
    "nontarget" (1). MNE puts samples on a grid through time 0, so its times
    are where each sample's interval starts (0, 40, ... ms for 20 samples),
    half a sample before the centres in simulate_p300's ``times``. Needs
    MNE."""
    import mne

    data = simulate_p300(epochs, channels, samples, seed, target_ratio)
    sfreq = samples / (_korva.EPOCH_LENGTH_MS / 1000.0)
    info = mne.create_info(data.ch_names, sfreq=sfreq, ch_types="eeg")
    n = len(data.target)
    codes = np.where(data.target > 0, EVENT_ID["target"], EVENT_ID["nontarget"])
    events = np.column_stack([np.arange(n) * (samples + 1), np.zeros(n, int), codes])
    result = mne.EpochsArray(
        data.data.reshape(n, channels, samples) * 1e-6,
        info,
        events=events,
        tmin=0.0,
        event_id={k: v for k, v in EVENT_ID.items() if v in codes},
        verbose=False,
    )
    result.set_montage("standard_1020")
    return result
