"""korva: the stepwise linear discriminant classifier module ZEZODOvo64.kvc
as a scikit-learn estimator.

The module is loaded at run time through the host kit, as the command-line
host korva loads it, so what Python trains is what korva trains, and the two
read each other's classifier documents.
"""

from ._epochs import DataWarning, Epochs, extract_epochs
from ._estimator import INTERCEPT_NOTE, InterceptWarning, Step, StepwiseLDA, load_model
from ._korva import KorvaError, TrainingError, default_module_path, set_memory_limit
from ._recording import read_recording
from ._search import StepwiseLDACV
from ._simulate import EVENT_ID, simulate_p300, simulate_p300_epochs
from ._speller import Spelling, speller_labels, spell

__all__ = [
    "DataWarning",
    "EVENT_ID",
    "Epochs",
    "INTERCEPT_NOTE",
    "InterceptWarning",
    "KorvaError",
    "Step",
    "StepwiseLDA",
    "Spelling",
    "StepwiseLDACV",
    "TrainingError",
    "default_module_path",
    "extract_epochs",
    "load_model",
    "read_recording",
    "set_memory_limit",
    "simulate_p300",
    "simulate_p300_epochs",
    "spell",
    "speller_labels",
]
