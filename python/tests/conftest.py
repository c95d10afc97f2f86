import os
import subprocess

import pytest

import korva


@pytest.fixture(scope="session")
def p300():
    """A small simulated P300 set: 360 epochs, 4 channels x 10 samples."""
    return korva.simulate_p300(epochs=360, channels=4, samples=10, seed=11)


@pytest.fixture(scope="session")
def fitted(p300):
    return korva.StepwiseLDA(p_enter=0.1, p_remove=0.15).fit(p300.data, p300.target)


@pytest.fixture
def run_korva(tmp_path):
    """Runs the build's korva in tmp_path; returns its standard output."""

    def run(*arguments):
        done = subprocess.run(
            [os.environ["KORVA_BINARY"], *map(str, arguments)],
            cwd=tmp_path, capture_output=True, text=True,
        )
        assert done.returncode == 0, done.stderr
        return done.stdout

    return run
