"""Continuous EEG recordings (EDF, BDF, GDF, BrainVision, XDF, headset CSV) read
by korva's own readers, as korva reads them before it cuts epochs."""

import os

from sklearn.utils import Bunch

from . import _korva


def read_recording(path, marker_column=None, sampling_rate=None, xdf_eeg=None, xdf_markers=None):
    """Reads the recording at ``path``, whatever its extension says: EDF(+),
    BDF(+), GDF 1 and 2, a BrainVision header (.vhdr), XDF or the CSV file
    of a headset (a time column, one column per channel, a marker column).

    ``marker_column`` names a CSV file's marker column (by name, or "#N"
    for the N-th column; by default the one column named ``Marker...``);
    ``sampling_rate`` (Hz) is a CSV file's rate, its time column then not
    read (by default the rate comes from the span of the time column).
    ``xdf_eeg`` and ``xdf_markers`` name (or give the type of) an XDF file's
    EEG stream and marker stream, by default those of type EEG and Markers;
    the markers are placed on the EEG samples through the streams' clock
    offsets.

    Returns a Bunch with ``data`` (channels x samples, float64; voltages in
    microvolts), ``sfreq`` (Hz), ``ch_names``, ``units`` ("uV" for every
    voltage), ``eeg`` (False for status, trigger, marker, auxiliary and
    other non-EEG channels), ``types`` (a channel's type where the file
    states it, "TRIG" for a CSV marker column, else ""), ``events`` (a list
    of ``(sample, code)``: the sample from 0, the code as the file writes
    it), ``format`` ("BDF+", "GDF 2", ...), ``notes`` (what the reader
    decided: how the rate was taken from the time column, channels left
    out) and ``breaks`` (a list of ``(sample, why)``: the recording is not
    continuous before that sample, as at a gap in the time column).

    Raises FileNotFoundError for a missing file and ValueError for a file
    that is not a recording korva reads, or is damaged or truncated.
    """
    path = os.fsdecode(path)
    if not os.path.exists(path):
        raise FileNotFoundError(f"{path}: no such file")
    data, sfreq, ch_names, units, eeg, types, events, fmt, notes, breaks = (
        _korva.read_recording(
            path, marker_column, None if sampling_rate is None else float(sampling_rate),
            xdf_eeg, xdf_markers,
        )
    )
    return Bunch(
        data=data, sfreq=sfreq, ch_names=ch_names, units=units, eeg=eeg,
        types=types, events=events, format=fmt, notes=notes, breaks=breaks,
    )
