"""Epoch features from continuous recordings, cut by the code of
``korva epochs`` (the same recipe gives the same numbers)."""

import numbers
import os
import warnings
from collections import namedtuple

import numpy as np

from . import _korva

Epochs = namedtuple("Epochs", "X labels runs feature_names reports recipe subjects sessions")
Epochs.__doc__ = """Epochs cut from recordings.

X: epochs x features (channel-major, named ``CHANNEL_BB``); labels: +1
target, -1 non-target, and 0 for every epoch when a recording has no event
of the target list (a session not labelled yet, cut for scoring); runs: the
recording of each epoch, from 1 (usable as groups); feature_names; reports:
per recording, the epochs kept, outside the file, rejected and dropped at
breaks of the recording as (target, non-target) counts, the skipped events
by code, whether it was labelled and its epochs without labels, the rate it
was resampled from (or None), notes and the warnings of its checks; recipe:
the recipe as used, as the XML element a model keeps; subjects, sessions:
the EEG-BIDS subject and session of each epoch's run ("" for a recording
named itself), usable as groups as runs are."""


class DataWarning(UserWarning):
    """Recordings whose samples look wrong: flat, railed or identical
    channels, a scale no EEG has, epoch onsets that are exactly 0, gaps."""


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
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    paths = [os.fsdecode(p) for p in paths]
    for path in paths:
        if not os.path.exists(path):
            raise FileNotFoundError(f"{path}: no such file")
    return paths


def _labels(value):
    if value is None:
        return []
    if isinstance(value, (str, numbers.Integral)):
        value = [value]
    return [str(v) for v in value]


def _number(value, kind=float):
    return None if value is None else kind(value)


def _whole(value, name):
    """A whole number, refused rather than cut: 2.7 bins are not 2, nor is
    True one."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise ValueError(f"{name} must be a whole number, not {value!r}")
    if not -(2**31) <= value < 2**31:
        raise ValueError(f"{name} {value} is out of range")
    return int(value)


def _names(channels):
    """Channel names: one name as a str, or a list of them."""
    if channels is None:
        return []
    if isinstance(channels, str):
        return [channels]
    names = list(channels)
    for name in names:
        if not isinstance(name, str):
            raise ValueError(f"channels: a channel name is a str, not {name!r}")
    return names


def _recipe(target, non_target, channels, reference, band, filter_order,
            window, bins, baseline, reject, resample):
    """The recipe's arguments of the extension's extract_epochs."""
    start, end = window
    return dict(
        target=_codes(target, "target"),
        non_target=_codes(non_target, "non_target"),
        channels=_names(channels),
        reference=reference,
        band=_pair(band),
        filter_order=_whole(filter_order, "filter_order"),
        window=(float(start), _number(end)),
        bins=_whole(bins, "bins"),
        baseline=_pair(baseline),
        reject=_number(reject),
        resample=_number(resample),
    )


def _reading(marker_column, sampling_rate, xdf_eeg, xdf_markers, subject,
             session, task, run):
    """How the extension's extract_epochs reads the recordings."""
    return dict(
        marker_column=marker_column or "",
        sampling_rate=_number(sampling_rate),
        xdf_eeg=xdf_eeg or "",
        xdf_markers=xdf_markers or "",
        bids=_korva.BidsFilter(
            _labels(subject), _labels(session), _labels(task), _labels(run)
        ),
    )


def extract_epochs(
    paths, *, target, non_target, channels=None,
    reference=_korva.DEFAULT_REFERENCE, band=_korva.DEFAULT_BAND,
    filter_order=_korva.DEFAULT_FILTER_ORDER, window=_korva.DEFAULT_WINDOW,
    bins=_korva.DEFAULT_BINS, baseline=_korva.DEFAULT_BASELINE,
    reject=_korva.DEFAULT_REJECT, resample=_korva.DEFAULT_RESAMPLE,
    marker_column=None, sampling_rate=None, xdf_eeg=None, xdf_markers=None,
    subject=None, session=None, task=None, run=None,
):
    """Cuts recordings (EDF, BDF, GDF, BrainVision .vhdr, XDF, headset CSV)
    into epoch features, as ``korva epochs`` does; the defaults are its own.
    A folder of an EEG-BIDS dataset (its root, a subject, session or eeg
    folder) stands for its runs, read with their events and channels files;
    subject, session, task, run (a label or a list of them) choose among
    them.

    target, non_target: event codes or marker texts (a number N also matches
    the stimulus markers "S N", "SN" and "Stimulus/S N"); other events are
    skipped. channels: a name or a list of names (default: every EEG channel
    of the first recording). reference: "none" or "average" (the mean of the chosen
    channels). band: (low, high) Hz of the zero-phase Butterworth band-pass
    of order ``filter_order``, or None. window: (start, end) ms after the
    event, end excluded; end None is the default end moved to the nearest
    whole number of bins. bins: means of consecutive samples per channel.
    baseline: (start, end) ms whose mean each channel loses, or None.
    reject: drop epochs whose peak-to-peak exceeds this many microvolts on
    any channel, or None. resample: a rate in Hz that recordings at other
    rates are resampled to before the filter (polyphase, as SciPy's
    ``resample_poly`` with its default window; events to the nearest new
    sample, a tie to the even one), or None. marker_column (a name, or "#N"
    for the N-th column), sampling_rate: for headset CSV files; xdf_eeg,
    xdf_markers: the streams of XDF files (as ``read_recording`` takes them).

    Returns an ``Epochs`` named tuple; what the checks of the samples find
    (korva's warnings) is issued as DataWarning. Raises FileNotFoundError
    for a missing file and ValueError, with korva's message, for a recipe or
    recording that cannot be used.
    """
    (X, labels, runs, names, reports, recipe, subjects, sessions,
     quality) = _korva.extract_epochs(
        _existing(paths),
        **_recipe(target, non_target, channels, reference, band, filter_order,
                  window, bins, baseline, reject, resample),
        **_reading(marker_column, sampling_rate, xdf_eeg, xdf_markers,
                   subject, session, task, run),
    )
    for warning in quality:
        warnings.warn(warning, DataWarning, stacklevel=2)
    return Epochs(
        X, labels.astype(np.int64), runs.astype(np.int64), names, reports, recipe,
        np.array(subjects, dtype=object), np.array(sessions, dtype=object),
    )
