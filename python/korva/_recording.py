"""Continuous EEG recordings (EDF, BDF, GDF, BrainVision, headset CSV) read
by korva's own readers, as korva reads them before it cuts epochs."""

import os

from sklearn.utils import Bunch

from . import _korva


def read_recording(path, marker_column=None, sampling_rate=None):
    """Reads the recording at ``path``, whatever its extension says: EDF(+),
    BDF(+), GDF 1 and 2, a BrainVision header (.vhdr) or the CSV file of a
    headset (a time column, one column per channel, a marker column).

    ``marker_column`` names a CSV file's marker column (by default the one
    column named ``Marker...``); ``sampling_rate`` (Hz) is a CSV file's rate
    when its time column does not give a whole one.

    Returns a Bunch with ``data`` (channels x samples, float64; voltages in
    microvolts), ``sfreq`` (Hz), ``ch_names``, ``units`` ("uV" for every
    voltage), ``eeg`` (False for status, trigger, marker and other non-EEG
    channels), ``events`` (a list of ``(sample, code)``: the sample from 0,
    the code as the file writes it), ``format`` ("BDF+", "GDF 2", ...) and
    ``notes`` (what the reader decided: a rate taken from the time column,
    channels left out).

    Raises FileNotFoundError for a missing file and ValueError for a file
    that is not a recording korva reads, or is damaged or truncated.
    """
    path = os.fsdecode(path)
    if not os.path.exists(path):
        raise FileNotFoundError(f"{path}: no such file")
    data, sfreq, ch_names, units, eeg, events, fmt, notes = _korva.read_recording(
        path, marker_column, None if sampling_rate is None else float(sampling_rate)
    )
    return Bunch(
        data=data, sfreq=sfreq, ch_names=ch_names, units=units, eeg=eeg,
        events=events, format=fmt, notes=notes,
    )
