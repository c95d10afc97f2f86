"""Epoch features from continuous recordings, cut by the code of
``korva epochs`` (the same recipe gives the same numbers)."""

import numbers
import os
from collections import namedtuple

import numpy as np

from . import _korva

Epochs = namedtuple("Epochs", "X labels runs feature_names reports recipe")
Epochs.__doc__ = """Epochs cut from recordings.

X: epochs x features (channel-major, named ``CHANNEL_BB``); labels: +1
target, -1 non-target, and 0 for every epoch when a recording has no event
of the target list (a session not labelled yet, cut for scoring); runs: the recording of each epoch, from 1 (usable as
groups); feature_names; reports: per recording, the epochs kept, outside the
file and rejected as (target, non-target) counts, the skipped events by
code, whether it was labelled and its epochs without labels; recipe: the recipe as used, as the XML element a model keeps."""


def _codes(events, name):
    if isinstance(events, (str, numbers.Integral)):
        events = [events]
    if events is None or len(events) == 0:
        raise ValueError(f"{name}: give at least one event code or marker text")
    return [str(e) for e in events]


def _pair(value):
    if value is None:
        return None
    low, high = value
    return float(low), float(high)


def _existing(paths):
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    paths = [os.fspath(p) for p in paths]
    for path in paths:
        if not os.path.exists(path):
            raise FileNotFoundError(f"{path}: no such file")
    return paths


def _number(value, kind=float):
    return None if value is None else kind(value)


def extract_epochs(
    paths,
    *,
    target,
    non_target,
    channels=None,
    reference=_korva.DEFAULT_REFERENCE,
    band=_korva.DEFAULT_BAND,
    filter_order=_korva.DEFAULT_FILTER_ORDER,
    window=_korva.DEFAULT_WINDOW,
    bins=_korva.DEFAULT_BINS,
    baseline=_korva.DEFAULT_BASELINE,
    reject=_korva.DEFAULT_REJECT,
    marker_column=None,
    sampling_rate=None,
):
    """Cuts recordings (EDF, BDF, GDF, BrainVision .vhdr, headset CSV) into
    epoch features, as ``korva epochs`` does; the defaults are its own.

    target, non_target: event codes or marker texts (a number N also matches
    the stimulus markers "S N", "SN" and "Stimulus/S N"); other events are
    skipped. channels: names (default: every EEG channel of the first
    recording). reference: "none" or "average" (the mean of the chosen
    channels). band: (low, high) Hz of the zero-phase Butterworth band-pass
    of order ``filter_order``, or None. window: (start, end) ms after the
    event, end excluded; end None is the default end moved to the nearest
    whole number of bins. bins: means of consecutive samples per channel.
    baseline: (start, end) ms whose mean each channel loses, or None.
    reject: drop epochs whose peak-to-peak exceeds this many microvolts on
    any channel, or None. marker_column, sampling_rate: for headset CSV
    files.

    Returns an ``Epochs`` named tuple. Raises FileNotFoundError for a
    missing file and ValueError, with korva's message, for a recipe or
    recording that cannot be used.
    """
    start, end = window
    X, labels, runs, names, reports, recipe = _korva.extract_epochs(
        _existing(paths),
        target=_codes(target, "target"),
        non_target=_codes(non_target, "non_target"),
        channels=list(channels or []),
        reference=reference,
        band=_pair(band),
        filter_order=int(filter_order),
        window=(float(start), _number(end)),
        bins=int(bins),
        baseline=_pair(baseline),
        reject=_number(reject),
        marker_column=marker_column or "",
        sampling_rate=_number(sampling_rate),
    )
    return Epochs(
        X, labels.astype(np.int64), runs.astype(np.int64), names, reports, recipe
    )
