"""The speller: flash scores decoded into selections, and flash labels made
from a layout and targets, by the code of ``korva spell`` (speller/ in C++,
bound in _korva), so that the same scores give the same curve."""

from collections import namedtuple

import numpy as np

from . import _korva
from ._estimator import _module_path

Spelling = namedtuple("Spelling", "repetitions stopping selections")
Spelling.__doc__ = """Selections decoded from flash scores.

repetitions: one dict per number of repetitions k = 1 .. R, with the keys
of ``korva spell --summary``: ``repetitions``, ``accuracy``,
``itr_bits_per_selection``, ``itr_bits_per_minute``,
``seconds_per_selection`` (None where not known) and ``text``; stopping:
the same for dynamic stopping (``repetitions`` the mean used), or None;
selections: per selection, ``selection``, ``target``, ``chosen`` (after all
repetitions), ``posterior``, ``repetitions_used`` and ``ranking`` (symbol,
summed score), first best."""


def _flashes(codes, selections):
    codes = np.asarray(codes, dtype=np.float64)
    selections = np.asarray(selections, dtype=np.float64)
    return codes, selections


def speller_labels(codes, selections, targets, *, layout="6x6", symbols=None):
    """+1 / -1 for each flash: +1 exactly when its code lights its
    selection's target (``targets``, one symbol per selection in their order
    of first appearance in ``selections``). ValueError, with korva's
    message, for a layout, symbol or target count that cannot be used."""
    codes, selections = _flashes(codes, selections)
    return _korva.speller_labels(codes, selections, layout, symbols or "", targets)


def spell(
    scores,
    codes,
    selections,
    *,
    layout="6x6",
    symbols=None,
    targets=None,
    model=None,
    stop_at=None,
    flash_ms=None,
    pause_s=0.0,
    module=None,
):
    """Decodes selections from flash scores as ``korva spell`` does.

    scores, codes, selections: one per flash, in the order shown; a flash
    is in repetition k when it is the k-th flash of its code in its
    selection. layout: "ROWSxCOLS" or a layout table's path; symbols: its
    symbols (default for up to 6x6: A-Z, 1-9, _). targets: one symbol per
    selection, or None. model: a fitted ``StepwiseLDA``, whose module ranks
    the items (``SortScoresFirstBest``) and whose training scores give the
    likelihoods of ``stop_at`` (dynamic stopping at that posterior); without
    it the module of ``module`` ranks. flash_ms and pause_s: the timing of
    bits per minute. Returns a ``Spelling``; ValueError, with korva's
    message, for what cannot be decoded.
    """
    codes, selections = _flashes(codes, selections)
    classifier = getattr(model, "_classifier", None)
    if model is not None and classifier is None:
        raise ValueError("model must be a fitted StepwiseLDA")
    curve, stopping, chosen = _korva.decode_selections(
        np.asarray(scores, dtype=np.float64),
        codes,
        selections,
        layout,
        symbols or "",
        targets,
        classifier,
        _module_path(module),
        None if stop_at is None else float(stop_at),
        None if flash_ms is None else float(flash_ms) / 1000.0,
        float(pause_s),
    )
    return Spelling(curve, stopping, chosen)
